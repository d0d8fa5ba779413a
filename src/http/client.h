// The HTTP client of one API call: one request over its own connection (direct, or through a
// proxy's CONNECT tunnel), the response read whole and returned as text. Every status is an
// answer, not a failure, and its body is read like any other; redirects are not followed and no
// request is ever repeated.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "http/connection.h"
#include "http/cookies.h"
#include "http/message.h"
#include "http/url.h"
#include "net/channel.h"

namespace tessora {

class TTrafficLog;

class THttpClient {
 public:
  // A client without a carrier; SetChannel hands it one before the first exchange.
  THttpClient();
  explicit THttpClient(std::unique_ptr<TChannel> channel);
  // Releasing the client closes its connection, whether it was still open or not.
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  // The carrier of the connection; the client owns it.
  TChannel* Channel() const { return connection_.Channel(); }
  void SetChannel(std::unique_ptr<TChannel> channel) { connection_.SetChannel(std::move(channel)); }

  // The traffic recorder; not owned.
  TTrafficLog* TrafficLog() const { return connection_.Recorder(); }
  void SetTrafficLog(TTrafficLog* log) { connection_.SetRecorder(log); }

  // HTTP/1.1 by default; a POST exchange goes out as 1.0 and restores the setting afterwards.
  THttpVersion ProtocolVersion() const { return protocolVersion_; }
  void SetProtocolVersion(THttpVersion version) { protocolVersion_ = version; }
  // The limit of the TCP connect in milliseconds; 0 or less: none.
  int ConnectTimeout() const { return connectTimeout_; }
  void SetConnectTimeout(int milliseconds) { connectTimeout_ = milliseconds; }

  THttpRequest& Request() { return request_; }
  const THttpResponse& Response() const { return response_; }
  TProxySettings& ProxyParams() { return proxy_; }
  // Created when the first response arrives.
  const TCookieStore* CookieManager() const { return cookies_.get(); }

  // The status line of the last response read, empty before the first one.
  const std::u16string& ResponseText() const { return response_.ResponseText; }
  int ResponseCode() const { return response_.ResponseCode(); }

  // One exchange each; the body of the final response as text, whatever its status. Failures are
  // raised with their message; afterwards ResponseText holds the last status line read.
  std::u16string Post(const std::u16string& url, std::optional<std::string> body);
  std::u16string Put(const std::u16string& url, std::optional<std::string> body);
  std::u16string Get(const std::u16string& url);
  std::u16string Delete(const std::u16string& url);

  bool Connected() const { return connection_.Connected(); }
  // Closes the connection and tells the recorder, whether it was open or not.
  void Disconnect();

 private:
  enum class ConnectionKind { Direct, Tunnelled };
  // Where the open connection leads, to tell whether it can carry the next request.
  struct OpenTarget {
    ConnectionKind Kind;
    std::u16string Host;
    int Port;
    std::u16string Destination;
  };

  std::u16string DoRequest(const std::u16string& method, const std::u16string& url,
                           std::optional<std::string> body);
  void Exchange(const std::u16string& method, const std::u16string& url,
                std::optional<std::string> body);
  void PrepareRequest(const std::u16string& url);
  void SendRequest(THttpRequest& request);
  void ReadResponse();
  void StoreCookies(const THeaderList& headers);
  bool ResponseAllowsKeepAlive(const THttpResponse& response) const;

  // Connection and tunnel (http_tunnel.cpp).
  void Open();
  void ConnectTo(const std::u16string& host, int port, bool passThrough);
  void Tunnel();

  TConnection connection_;
  THttpVersion protocolVersion_ = THttpVersion::kHttp11;
  int connectTimeout_ = 0;
  THttpRequest request_;
  THttpResponse response_;
  TProxySettings proxy_;
  std::unique_ptr<TCookieStore> cookies_;
  std::u16string absoluteUrl_;  // the URL of the request being sent
  THttpUrl url_;                // and its parts
  std::optional<OpenTarget> openTarget_;
  bool keepAlive_ = true;  // whether the last response on the connection allowed keep-alive
};

}  // namespace tessora
