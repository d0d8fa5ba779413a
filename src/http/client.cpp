#include "http/client.h"

#include <algorithm>

#include "base/error.h"
#include "base/text.h"
#include "http/charset/charset.h"
#include "http/compose.h"
#include "http/response_reader.h"
#include "http/traffic_log.h"
#include "platform/clock.h"

namespace tessora {

KeptConnection::KeptConnection(std::unique_ptr<Stream> channel, TrafficLog* recorder,
                               std::u16string target, double idleSince)
    : channel_(std::move(channel)),
      recorder_(recorder),
      target_(std::move(target)),
      idleSince_(idleSince) {}

KeptConnection::KeptConnection(KeptConnection&& other) noexcept
    : channel_(std::move(other.channel_)),
      recorder_(other.recorder_),
      target_(std::move(other.target_)),
      idleSince_(other.idleSince_) {}

KeptConnection::~KeptConnection() {
  if (!channel_) return;
  try {
    channel_->Close();
    if (recorder_ != nullptr) recorder_->Disconnect();
  } catch (...) {
    // Closing a kept connection never fails.
  }
}

HttpClient::HttpClient() = default;

HttpClient::HttpClient(std::unique_ptr<Stream> channel) {
  connection_.SetChannel(std::move(channel));
}

HttpClient::~HttpClient() {
  try {
    Disconnect();
  } catch (...) {
    // Releasing a client never fails.
  }
}

void HttpClient::Disconnect() {
  connection_.Close();
}

std::u16string HttpClient::Perform(std::u16string_view method, HttpVersion version,
                                   const std::u16string& url, std::optional<std::string> body) {
  protocolVersion_ = version;
  std::optional<DateTime> deadline;
  if (callTimeout_ > 0) deadline = platform::NowSteady() + callTimeout_ / kMillisecondsInADay;
  connection_.SetDeadline(deadline, callTimeout_, ioTimeout_);
  Exchange(method, url, std::move(body));
  return BodyToText(response_.content, response_.charSet);
}

void HttpClient::Exchange(std::u16string_view method, const std::u16string& url,
                          std::optional<std::string> body) {
  response_.content.clear();
  request_.method = method;
  request_.url = url;
  request_.source = std::move(body);
  usedKept_ = false;
  mayHaveArrived_ = false;
  try {
    PrepareRequest(url);
    stage_ = Stage::kConnecting;
    usedKept_ = UseOfferedConnection();
    if (!usedKept_) Open();
    stage_ = Stage::kExchanging;
    SendAndRead();
  } catch (const Error&) {
    // After a failure the connection is in no known state, so it is never kept.
    const bool nothingArrived = connection_.ReceivedSinceRequest() == 0;
    Disconnect();
    if (!usedKept_ || stage_ != Stage::kExchanging) throw;
    // A kept connection the server closed while it was idle fails this way. Only a GET, and only
    // when no byte of its answer came, goes once more, on a new connection: sending anything else
    // again could do twice what the first did (a charge, a cancel).
    if (!nothingArrived || method != u"GET") {
      mayHaveArrived_ = true;
      throw;
    }
    try {
      response_ = HttpResponse();
      stage_ = Stage::kConnecting;
      Open();
      stage_ = Stage::kExchanging;
      SendAndRead();
    } catch (...) {
      Disconnect();
      throw;
    }
  } catch (...) {
    Disconnect();
    throw;
  }
  // A connection the server keeps open is closed when the client goes (with the next call), so
  // the traffic log records its end then.
  if (!response_.keepAlive) Disconnect();
}

void HttpClient::OpenOnly(const std::u16string& url, HttpVersion version) {
  protocolVersion_ = version;
  response_ = HttpResponse();
  request_.source.reset();
  try {
    PrepareRequest(url);
    stage_ = Stage::kConnecting;
    Open();
  } catch (...) {
    Disconnect();
    throw;
  }
}

void HttpClient::PrepareRequest(const std::u16string& url) {
  // The one parse of the URL: the connection, the certificate check, the server name of the
  // handshake and the Host line all take the host from here.
  url_ = HttpUrl::Parse(url);
  if (Stream* channel = Channel()) channel->SetServerName(url_.host, url_.Port());
  if (!url_.username.empty()) {
    request_.username = url_.username;
    request_.password = url_.password;
  }
  request_.url = url_.Target();
  request_.contentLength =
      request_.source ? static_cast<std::int64_t>(request_.source->size()) : -1;
  request_.host = url_.HostValue();
  // Before any connection is opened: a value that would add header lines sends nothing at all.
  RefuseLineBreaks(request_);
}

void HttpClient::SendAndRead() {
  connection_.MarkRequest();
  SendRequest(request_);
  ReadResponse();
}

std::u16string HttpClient::ConnectionTarget() const {
  std::u16string target = url_.Destination();
  if (!proxy_.proxyServer.empty()) {
    target += u" through " + proxy_.proxyServer + u":" + IntToText(proxy_.Port());
    if (proxy_.basicAuthentication) target += u" as " + proxy_.proxyUsername;
  }
  if (!connectionTag_.empty()) target += u" with " + connectionTag_;
  return target;
}

bool HttpClient::UseOfferedConnection() {
  if (!offered_) return false;
  KeptConnection kept = std::move(*offered_);
  offered_.reset();
  const double idleMs = (platform::NowLocal() - kept.IdleSince()) * kMillisecondsInADay;
  const bool sameTarget = kept.Target() == ConnectionTarget();
  Stream* channel = kept.Channel();
  // Readable while idle: the server closed it (or sent what nobody asked for); either way it
  // cannot carry the request.
  const bool usable = reuse_ && channel != nullptr && channel->Connected() && sameTarget &&
                      idleMs >= 0 && idleMs <= idleMs_ && !channel->Readable(0);
  // One that cannot is closed as it goes (recording its end); the call connects with its own
  // carrier, made for this call's settings (its TLS versions among them).
  if (!usable) return false;
  connection_.SetChannel(kept.TakeChannel());
  channel->SetServerName(url_.host, url_.Port());
  // This call's bound of a receive or send, not the one of the call that kept the connection.
  if (ioTimeout_ > 0) channel->SetSocketTimeout(ioTimeout_);
  return true;
}

std::optional<KeptConnection> HttpClient::TakeKeptConnection() {
  if (!reuse_ || !Connected() || !response_.keepAlive) return std::nullopt;
  // Only a connection whose answer ended where its framing says carries nothing of it into the
  // next call: not after an interim answer taken as the final one (102, 103: the final answer may
  // still come), a redirect whose body was not waited for, or a body cut short.
  const int code = response_.ResponseCode();
  if ((code >= 100 && code < 200) || response_.bodyUnread || !response_.incomplete.empty()) {
    return std::nullopt;
  }
  TrafficLog* recorder = Log();
  std::u16string target = ConnectionTarget();
  return KeptConnection(connection_.ReleaseChannel(), recorder, std::move(target),
                        platform::NowLocal());
}

void HttpClient::SendRequest(HttpRequest& request, bool toProxy) {
  const std::u16string cookie = cookies_ ? cookies_->CookieHeader(url_) : std::u16string();
  request.rawHeaders =
      ComposeHeaders(request, proxy_, cookie, toProxy || proxy_.credentialsInTunnel);
  connection_.Write(RequestHead(request.method, request.url, protocolVersion_, request.rawHeaders));
  if (!request.source) return;
  const std::string_view source = *request.source;
  for (std::size_t pos = 0; pos < source.size(); pos += Connection::kBlockSize) {
    connection_.Write(source.substr(pos, Connection::kBlockSize));
  }
}

void HttpClient::ReadResponse() {
  for (int interim = 0;; ++interim) {
    ReadResponseHead(connection_, response_);
    StoreCookies(response_.rawHeaders);
    if (response_.ResponseCode() != 100) break;
    if (interim == kMaxInterimResponses)
      Raise(ErrorKind::kProtocol, u"Too many interim responses.");
  }
  ReadResponseBody(connection_, response_);
  response_.keepAlive = ResponseAllowsKeepAlive(response_);
}

void HttpClient::StoreCookies(const HeaderList& headers) {
  if (!cookies_) cookies_ = std::make_unique<CookieStore>();
  cookies_->AddFromHeaders(headers, url_);
}

bool HttpClient::ResponseAllowsKeepAlive(const HttpResponse& response) const {
  if (!Connected()) return false;
  const auto says = [&response](std::u16string_view value) {
    return SameTextAscii(TrimText(response.connection), value) ||
           SameTextAscii(TrimText(response.proxyConnection), value);
  };
  if (protocolVersion_ == HttpVersion::kHttp10) return says(u"keep-alive");
  return !says(u"close");
}

}  // namespace tessora
