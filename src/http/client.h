// The HTTP client of one API call: one request over its own connection (direct, or through a
// proxy's CONNECT tunnel), the response read whole and returned as text. Every status is an
// answer, not a failure, and its body is read like any other; redirects are not followed and no
// request is ever repeated.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/connection.h"
#include "http/cookies.h"
#include "http/message.h"
#include "http/url.h"
#include "net/stream.h"

namespace tessora {

class TrafficLog;

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
  void SetLog(TrafficLog* log) { connection_.SetRecorder(log); }

  // The limit of the TCP connect in milliseconds; 0 or less: none.
  void SetConnectTimeout(int milliseconds) { connectTimeout_ = milliseconds; }

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
  void PrepareRequest(const std::u16string& url);
  void SendRequest(HttpRequest& request);
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
  HttpRequest request_;
  HttpResponse response_;
  ProxySettings proxy_;
  std::unique_ptr<CookieStore> cookies_;
  HttpUrl url_;  // the parts of the URL of the request being sent
  Stage stage_ = Stage::kConnecting;
};

}  // namespace tessora
