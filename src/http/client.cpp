#include "http/client.h"

#include <algorithm>

#include "base/error.h"
#include "base/text.h"
#include "http/charset/charset.h"
#include "http/compose.h"
#include "http/response_reader.h"
#include "http/traffic_log.h"

namespace tessora {

THttpClient::THttpClient() = default;

THttpClient::THttpClient(std::unique_ptr<TChannel> channel) {
  connection_.SetChannel(std::move(channel));
}

THttpClient::~THttpClient() {
  try {
    Disconnect();
  } catch (...) {
    // Releasing a client never fails.
  }
}

void THttpClient::Disconnect() {
  connection_.Close();
  openTarget_.reset();
}

std::u16string THttpClient::Post(const std::u16string& url, std::optional<std::string> body) {
  // A POST goes out as HTTP/1.0 on a fresh connection.
  struct RestoreVersion {
    THttpVersion& Setting;
    THttpVersion Saved;
    ~RestoreVersion() { Setting = Saved; }
  } restore{protocolVersion_, protocolVersion_};
  protocolVersion_ = THttpVersion::kHttp10;
  if (Connected()) Disconnect();
  return DoRequest(u"POST", url, std::move(body));
}

std::u16string THttpClient::Put(const std::u16string& url, std::optional<std::string> body) {
  return DoRequest(u"PUT", url, std::move(body));
}

std::u16string THttpClient::Get(const std::u16string& url) {
  return DoRequest(u"GET", url, std::nullopt);
}

std::u16string THttpClient::Delete(const std::u16string& url) {
  return DoRequest(u"DELETE", url, std::nullopt);
}

std::u16string THttpClient::DoRequest(const std::u16string& method, const std::u16string& url,
                                      std::optional<std::string> body) {
  Exchange(method, url, std::move(body));
  return BodyToText(response_.Content, response_.CharSet);
}

void THttpClient::Exchange(const std::u16string& method, const std::u16string& url,
                           std::optional<std::string> body) {
  response_.Content.clear();
  request_.Method = method;
  request_.URL = url;
  request_.Source = std::move(body);
  try {
    PrepareRequest(url);
    if (TChannel* channel = Channel()) channel->SetURIToCheck(url);
    Open();
    SendRequest(request_);
    ReadResponse();
  } catch (...) {
    // After a failure the connection is in no known state, so it is never kept.
    keepAlive_ = false;
    Disconnect();
    throw;
  }
  keepAlive_ = response_.KeepAlive;
  if (!response_.KeepAlive) Disconnect();
}

void THttpClient::PrepareRequest(const std::u16string& url) {
  absoluteUrl_ = url;
  url_ = THttpUrl::Parse(url);
  if (!url_.Username.empty()) {
    request_.Username = url_.Username;
    request_.Password = url_.Password;
  }
  request_.URL = url_.Target();
  request_.ContentLength =
      request_.Source ? static_cast<std::int64_t>(request_.Source->size()) : -1;
  request_.Host = url_.HostValue();
}

void THttpClient::SendRequest(THttpRequest& request) {
  const std::u16string cookie = cookies_ ? cookies_->CookieHeader(url_) : std::u16string();
  request.RawHeaders = ComposeHeaders(request, proxy_, cookie);
  connection_.Write(RequestHead(request.Method, request.URL, protocolVersion_, request.RawHeaders));
  if (!request.Source) return;
  const std::string_view source = *request.Source;
  for (std::size_t pos = 0; pos < source.size(); pos += TConnection::kBlockSize) {
    connection_.Write(source.substr(pos, TConnection::kBlockSize));
  }
}

void THttpClient::ReadResponse() {
  for (int interim = 0;; ++interim) {
    ReadResponseHead(connection_, response_);
    StoreCookies(response_.RawHeaders);
    if (response_.ResponseCode() != 100) break;
    if (interim == kMaxInterimResponses) Raise(u"Too many interim responses.");
  }
  ReadResponseBody(connection_, response_);
  response_.KeepAlive = ResponseAllowsKeepAlive(response_);
}

void THttpClient::StoreCookies(const THeaderList& headers) {
  if (!cookies_) cookies_ = std::make_unique<TCookieStore>();
  cookies_->AddFromHeaders(headers, url_);
}

bool THttpClient::ResponseAllowsKeepAlive(const THttpResponse& response) const {
  if (!Connected()) return false;
  const auto says = [&response](std::u16string_view value) {
    return SameTextAscii(TrimText(response.Connection), value) ||
           SameTextAscii(TrimText(response.ProxyConnection), value);
  };
  if (protocolVersion_ == THttpVersion::kHttp10) return says(u"keep-alive");
  return !says(u"close");
}

}  // namespace tessora
