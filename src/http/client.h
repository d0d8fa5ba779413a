// The HTTP client of one API call: one request over its own connection (direct, or through a
// proxy's CONNECT tunnel), the response read whole and returned as text. Every status is an
// answer, not a failure, and its body is read like any other; redirects are not followed and no
// request is ever repeated.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "http/connection.h"
#include "http/cookies.h"
#include "http/message.h"
#include "http/url.h"
#include "net/stream.h"

namespace tessora {

class TrafficLog;

// A connection kept open after a call for the thread's next one (warm connections): its carrier,
// open, with TLS running (through the proxy's tunnel where there is one), where it leads, and since
// when it has been idle. Dropping it closes the connection and tells the traffic log, as closing a
// client's connection does.
class KeptConnection {
 public:
  KeptConnection(std::unique_ptr<Stream> channel, TrafficLog* recorder, std::u16string target,
                 double idleSince);
  ~KeptConnection();
  KeptConnection(KeptConnection&&) noexcept;
  KeptConnection& operator=(KeptConnection&&) = delete;
  KeptConnection(const KeptConnection&) = delete;
  KeptConnection& operator=(const KeptConnection&) = delete;

  const std::u16string& Target() const { return target_; }
  double IdleSince() const { return idleSince_; }
  // The log that records the connection's end (none: no record).
  void SetRecorder(TrafficLog* recorder) { recorder_ = recorder; }
  // The carrier, still the kept connection's (none once handed on).
  Stream* Channel() const { return channel_.get(); }
  // Hands the carrier on; the kept connection is empty afterwards.
  std::unique_ptr<Stream> TakeChannel() { return std::move(channel_); }

 private:
  std::unique_ptr<Stream> channel_;
  TrafficLog* recorder_;
  std::u16string target_;
  double idleSince_;  // local date-time (days)
};

class HttpClient {
 public:
  // A client without a carrier; SetChannel hands it one before the first exchange.
  HttpClient();
  explicit HttpClient(std::unique_ptr<Stream> channel);
  // Releasing the client closes its connection, whether it was still open or not.
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // The carrier of the connection; the client owns it.
  Stream* Channel() const { return connection_.Channel(); }
  void SetChannel(std::unique_ptr<Stream> channel) { connection_.SetChannel(std::move(channel)); }

  // The traffic recorder; not owned.
  TrafficLog* Log() const { return connection_.Recorder(); }
  void SetLog(TrafficLog* log) {
    connection_.SetRecorder(log);
    // An offered connection a failed call did not take records its end in the same log.
    if (offered_) offered_->SetRecorder(log);
  }

  // The limit of the TCP connect in milliseconds; 0 or less: none.
  void SetConnectTimeout(int milliseconds) { connectTimeout_ = milliseconds; }
  // The limit of a whole exchange (connect, tunnel, request and whole answer) in milliseconds, from
  // the start of Perform; 0 or less: none. `ioTimeoutMs` is the carrier's bound on one receive.
  // When it passes, the exchange fails with kCallDeadlineCode (http/connection.h).
  void SetCallTimeout(int milliseconds, int ioTimeoutMs) {
    callTimeout_ = milliseconds;
    ioTimeout_ = ioTimeoutMs;
  }

  HttpRequest& Request() { return request_; }
  const HttpResponse& Response() const { return response_; }
  ProxySettings& ProxyParams() { return proxy_; }
  // Created when the first response arrives.
  const CookieStore* CookieManager() const { return cookies_.get(); }

  // The status line of the last response read, empty before the first one.
  const std::u16string& ResponseText() const { return response_.responseText; }
  int ResponseCode() const { return response_.ResponseCode(); }

  // One exchange on a new connection: `method` with `body` (none: no body and no
  // Content-Length) in HTTP `version`, which the CONNECT request of a tunnel uses too. Returns the
  // body of the final response as text, whatever its status. Failures are raised with their
  // message; afterwards ResponseText holds the last status line read. The connection stays open
  // after the exchange while the response allows keep-alive, until Disconnect or the client's end.
  std::u16string Perform(std::u16string_view method, HttpVersion version, const std::u16string& url,
                         std::optional<std::string> body);

  // Opens the connection an exchange with `url` in HTTP `version` would use (direct, or through the
  // proxy's tunnel; TLS running) and sends no request on it: what a call meets before its request,
  // for diagnosis (tessora doctor). Failures are raised as Perform raises them, after the
  // connection was closed; CurrentStage tells where it failed. Disconnect closes it afterwards.
  void OpenOnly(const std::u16string& url, HttpVersion version);

  bool Connected() const { return connection_.Connected(); }

  // Warm connections, off by default: with `reuse` the connection stays open after an exchange the
  // server allows to keep it (TakeKeptConnection hands it to the thread's next client), and an
  // offered one (OfferKeptConnection) is used when it leads where the request goes, has been idle
  // for at most `idleMs` and the server has not closed it meanwhile. A GET that fails on it before
  // any byte of the answer arrived is sent once more on a new connection; no other request is
  // ever sent twice.
  void SetConnectionReuse(bool reuse, int idleMs) {
    reuse_ = reuse;
    idleMs_ = idleMs;
  }
  // What else a kept connection must have been made with to carry this client's request (the
  // channel's highest TLS version, say): part of where the connection leads. Empty: nothing.
  void SetConnectionTag(std::u16string tag) { connectionTag_ = std::move(tag); }
  // After an exchange: the connection, when reuse is on, it is open and the server allowed to keep
  // it; the client keeps none then, and its end records nothing.
  std::optional<KeptConnection> TakeKeptConnection();
  // Before an exchange: the connection the thread's previous call kept.
  void OfferKeptConnection(KeptConnection kept) { offered_.emplace(std::move(kept)); }
  // Whether the latest exchange went out on a kept connection.
  bool UsedKeptConnection() const { return usedKept_; }
  // Whether the latest exchange failed on a kept connection after its request had gone out (so it
  // may have reached the server, and was not sent again).
  bool RequestMayHaveArrived() const { return mayHaveArrived_; }

  // How far the latest exchange got, to tell where it failed: connecting (TCP connect to the API
  // host or the proxy, and the TLS handshake of a direct connection), tunnelling (the CONNECT
  // request, its answer and the TLS handshake inside the tunnel), or exchanging the request.
  enum class Stage { kConnecting, kTunnelling, kExchanging };
  Stage CurrentStage() const { return stage_; }
  // The parts of the latest exchange's URL.
  const HttpUrl& Url() const { return url_; }
  const ProxySettings& Proxy() const { return proxy_; }
  // Closes the connection and tells the recorder, whether it was open or not.
  void Disconnect();

 private:
  void Exchange(std::u16string_view method, const std::u16string& url,
                std::optional<std::string> body);
  void SendAndRead();
  // Where the connection of the current request leads: the API host and port, through the proxy
  // (and its credentials) when there is one.
  std::u16string ConnectionTarget() const;
  // Takes the offered connection as this client's when it may serve the request; otherwise
  // closes it. Whether it was taken.
  bool UseOfferedConnection();
  void PrepareRequest(const std::u16string& url);
  // `toProxy`: the CONNECT request, which always carries the proxy's credentials; the request
  // inside the tunnel carries them when the proxy settings say so.
  void SendRequest(HttpRequest& request, bool toProxy = false);
  void ReadResponse();
  void StoreCookies(const HeaderList& headers);
  bool ResponseAllowsKeepAlive(const HttpResponse& response) const;

  // Connection and tunnel (tunnel.cpp).
  void Open();
  void ConnectTo(const std::u16string& host, int port, bool passThrough);
  void Tunnel();

  Connection connection_;
  HttpVersion protocolVersion_ = HttpVersion::kHttp11;  // of the exchange under way
  int connectTimeout_ = 0;
  int callTimeout_ = 0;
  int ioTimeout_ = 0;
  HttpRequest request_;
  HttpResponse response_;
  ProxySettings proxy_;
  std::unique_ptr<CookieStore> cookies_;
  HttpUrl url_;  // the parts of the URL of the request being sent
  Stage stage_ = Stage::kConnecting;
  bool reuse_ = false;
  std::u16string connectionTag_;
  int idleMs_ = 0;
  std::optional<KeptConnection> offered_;
  bool usedKept_ = false;
  bool mayHaveArrived_ = false;
};

}  // namespace tessora
