#include "api/request.h"

#include "api/lifecycle.h"
#include "api/settings.h"
#include "api/thread_settings.h"
#include "base/error.h"
#include "base/text.h"
#include "http/client.h"
#include "http/compose.h"
#include "http/response_reader.h"
#include "http/traffic_log.h"
#include "net/tls_channel.h"

namespace tessora {

namespace {

// The characters an Environment cannot hold: "@" would turn what precedes it into a user part,
// "#" and "?" end the host name early, "\" reads as "/", and control characters belong in no host
// name. Each of them could make the host the certificate is checked against differ from the one
// the request reaches, or add to the request line.
void CheckEnvironment(const std::u16string& environment) {
  for (const char16_t c : environment) {
    if (c >= 0x20 && c != 0x7F && c != u'@' && c != u'#' && c != u'?' && c != u'\\') continue;
    const std::u16string what =
        c < 0x20 || c == 0x7F ? u"a control character" : u"\"" + std::u16string(1, c) + u"\"";
    Raise(ErrorKind::kRequest,
          u"The Environment \"" + environment + u"\" cannot be used: it holds " + what +
              u". It is the start of the API host name, such as \"sandbox.\" or "
              u"\"127.0.0.1:8443/\". Nothing was sent.");
  }
}

// The scheme, user part, host and port of a URL: where a request goes.
std::u16string Authority(const HttpUrl& url) {
  std::u16string text = url.protocol + u"://";
  if (!url.username.empty() || !url.password.empty()) text += url.username + u":...@";
  return text + url.HostValue();
}

// Text a server or proxy chose, as it may stand in a reason: control characters as blanks, and no
// longer than a status line needs to be.
std::u16string ServerText(std::u16string_view text) {
  constexpr std::size_t kLongest = 160;
  std::u16string out(text.substr(0, kLongest));
  for (char16_t& c : out) {
    if (c < 0x20 || c == 0x7F) c = u' ';
  }
  if (text.size() > kLongest) out += u"...";
  return out;
}

std::u16string UpperFirst(std::u16string text) {
  if (!text.empty() && text[0] >= u'a' && text[0] <= u'z') text[0] = text[0] - u'a' + u'A';
  return text;
}

// The status code of the client's latest answer, 0 when no status line arrived.
int StatusOf(const HttpClient& client) {
  if (client.ResponseText().empty()) return 0;
  const int code = client.ResponseCode();
  return code >= 100 && code <= 599 ? code : 0;
}

// Runs one exchange of the thread's current client. A failure of the exchange (name resolution,
// connection, TLS, time-outs, a connection lost, an over-long header line) is not the host's
// concern: the result is then the last status line received, or the empty text. The thread keeps
// the status and, after a failure, the reason for the extension exports.
template <class Exchange>
std::u16string RunExchange(ThreadSettings& settings, HttpClient& client, Exchange&& exchange) {
  try {
    std::u16string text = exchange(client);
    settings.lastStatus = StatusOf(client);
    // The answer stands as it arrived; the reason tells a host that it may not be whole.
    const std::u16string& incomplete = client.Response().incomplete;
    if (!incomplete.empty()) {
      settings.lastReason =
          u"Incomplete answer from " + client.Url().Destination() + u": " + incomplete + u".";
      settings.lastFailureKind = FailureKind::kIncompleteAnswer;
    }
    return text;
  } catch (const Error& failure) {
    // Anything else (exhausted memory above all) is a failure of the call itself.
    settings.lastStatus = StatusOf(client);
    settings.lastReason = ExchangeFailureReason(failure, client);
    settings.lastFailureKind = ExchangeFailureKind(failure, client);
    if (client.RequestMayHaveArrived()) {
      settings.lastReason +=
          u" The request went out on a kept connection and may have reached the server.";
    }
    return client.ResponseText();
  }
}

}  // namespace

void CheckSameHost(const std::u16string& url, const std::u16string& baseUrl) {
  const std::u16string expected = Authority(HttpUrl::Parse(baseUrl));
  const std::u16string actual = Authority(HttpUrl::Parse(url));
  if (actual == expected) return;
  Raise(ErrorKind::kRequest, u"The URL \"" + url + u"\" would send the request to " + actual +
                                 u" instead of " + expected +
                                 u": the route and the Parameters may not change the host. "
                                 u"Nothing was sent.");
}

std::u16string ExchangeFailureReason(const Error& failure, const HttpClient& client) {
  const HttpUrl& url = client.Url();
  const ProxySettings& proxy = client.Proxy();
  // ("[::1]:8443" for an IPv6 address.)
  const std::u16string apiHost = url.Destination();
  const bool viaProxy = !proxy.proxyServer.empty();
  const std::u16string proxyName =
      u"the proxy " + proxy.proxyServer + u":" + IntToText(proxy.Port());
  // Until the tunnel stands, everything the library meets comes from the proxy.
  const bool fromProxy = viaProxy && client.CurrentStage() != HttpClient::Stage::kExchanging;
  const std::u16string peer = fromProxy ? proxyName : apiHost;
  // Messages of several lines ("Socket Error # 10061" CR LF "Connection refused.") read as one.
  std::u16string message = failure.Message();
  for (std::size_t at; (at = message.find(u"\r\n")) != std::u16string::npos;)
    message.replace(at, 2, u" ");
  switch (failure.Kind()) {
    case ErrorKind::kTls: {
      // Once the handshake is done, a TLS failure is one of the connection carrying the answer.
      const bool handshake = client.CurrentStage() != HttpClient::Stage::kExchanging;
      if (failure.Code() == kWsaTimedOut) {
        return (handshake ? u"TLS handshake with " : u"The TLS connection to ") + apiHost +
               u" timed out: " + message;
      }
      // The last line says what failed; of OpenSSL's "error:code:library:function:reason" only
      // the reason is for people.
      std::u16string_view reason = failure.Message();
      const std::size_t lineStart = reason.rfind(u'\n');
      if (lineStart != std::u16string_view::npos) reason.remove_prefix(lineStart + 1);
      if (reason.starts_with(u"error:")) reason.remove_prefix(reason.rfind(u':') + 1);
      std::u16string text = (handshake ? u"TLS handshake with " : u"The TLS connection to ") +
                            apiHost + u" failed: " + std::u16string(reason);
      if (!failure.Detail().empty()) text += u" (" + failure.Detail() + u")";
      return text;
    }
    case ErrorKind::kTlsLibrary:
      return u"The TLS library cannot be used: " + message;
    case ErrorKind::kTunnel: {
      constexpr std::u16string_view kRefused = u"Tunnel refused by the proxy: ";
      std::u16string_view statusLine = failure.Message();
      if (statusLine.starts_with(kRefused)) statusLine.remove_prefix(kRefused.size());
      return u"The proxy refused the tunnel: " + ServerText(statusLine);
    }
    case ErrorKind::kClosed:
      return UpperFirst(peer) + u" closed the connection before the answer was complete.";
    case ErrorKind::kProtocol:
      if (failure.Message() == kBodyTooLarge) {
        return u"Incomplete answer from " + apiHost + u": the answer was cut at the limit of " +
               IntToText(static_cast<std::int64_t>(kMaxContentBytes)) + u" bytes (" + message +
               u")";
      }
      return u"The answer from " + peer + u" was not accepted: " + ServerText(message);
    case ErrorKind::kTimeout:
      if (failure.Code() == kCallDeadlineCode)
        return u"No answer from " + peer + u": " + message + u".";
      [[fallthrough]];
    case ErrorKind::kSocket:
      if (client.CurrentStage() == HttpClient::Stage::kConnecting) {
        return u"Connecting to " + peer + u" failed: " + message;
      }
      if (failure.Kind() == ErrorKind::kTimeout) return message;
      return u"The connection to " + peer + u" failed: " + message;
    default:
      return message;
  }
}

FailureKind ExchangeFailureKind(const Error& failure, const HttpClient& client) {
  const bool viaProxy = !client.Proxy().proxyServer.empty();
  const bool fromProxy = viaProxy && client.CurrentStage() != HttpClient::Stage::kExchanging;
  switch (failure.Kind()) {
    case ErrorKind::kTimeout:
      return FailureKind::kTimeout;
    case ErrorKind::kTls:
      return failure.Code() == kWsaTimedOut ? FailureKind::kTimeout : FailureKind::kTls;
    case ErrorKind::kTlsLibrary:
      return FailureKind::kTls;
    case ErrorKind::kTunnel:
      return FailureKind::kProxy;
    case ErrorKind::kClosed:
      return fromProxy ? FailureKind::kProxy : FailureKind::kIncompleteAnswer;
    case ErrorKind::kProtocol:
      if (fromProxy) return FailureKind::kProxy;
      return failure.Message() == kBodyTooLarge ? FailureKind::kIncompleteAnswer
                                                : FailureKind::kMalformedAnswer;
    case ErrorKind::kSocket:
      if (failure.Code() >= kWsaHostNotFound && failure.Code() <= kWsaNoData) {
        return FailureKind::kNameResolution;
      }
      if (failure.Code() == kWsaTimedOut) return FailureKind::kTimeout;
      if (fromProxy) return FailureKind::kProxy;
      return client.CurrentStage() == HttpClient::Stage::kConnecting
                 ? FailureKind::kConnect
                 : FailureKind::kIncompleteAnswer;
    case ErrorKind::kRequest:
      return FailureKind::kRefusedRequest;
    default:
      return client.CurrentStage() == HttpClient::Stage::kExchanging ? FailureKind::kMalformedAnswer
                                                                     : FailureKind::kConnect;
  }
}

std::u16string FullBaseUrl(const std::u16string& environment, const std::u16string& apiHost) {
  return u"https://" + environment + apiHost;
}

std::unique_ptr<HttpClient> SetupClient(TrafficLog* log, const CallOptions& options) {
  auto client = std::make_unique<HttpClient>();
  client->SetConnectTimeout(options.connectTimeoutMs);
  client->SetCallTimeout(options.callTimeoutMs, options.ioTimeoutMs);
  // No read time-out of the client's own: the channel bounds every single receive.
  auto channel = std::make_unique<TlsChannel>();
  channel->SetSocketTimeout(options.ioTimeoutMs);
  channel->AllowTls13(options.allowTls13);
  client->SetChannel(std::move(channel));
  // A connection kept from a call with another highest TLS version does not carry this one's.
  if (options.allowTls13) client->SetConnectionTag(u"TLS 1.3");
  client->SetLog(log);
  return client;
}

void ApplyProxy(HttpClient& client, const ThreadSettings& settings) {
  if (settings.proxyServer.empty()) return;
  ProxySettings& proxy = client.ProxyParams();
  proxy.proxyServer = settings.proxyServer;
  proxy.proxyPort = settings.proxyPort;
  if (!settings.proxyUserName.empty() && !settings.proxyPassword.empty()) {
    proxy.basicAuthentication = true;
    proxy.proxyUsername = settings.proxyUserName;
    proxy.proxyPassword = settings.proxyPassword;
  }
}

PreparedRequest PrepareRequest(const ThreadSettings& settings, const std::u16string& route,
                               const std::u16string& body, const ParameterList& parameters,
                               const ParameterList& optionalParameters, bool needsOauth) {
  PreparedRequest prepared;
  const CallOptions options = CurrentCallOptions(settings);
  // The log is the loading thread's: only its calls write to it, so they set how it writes.
  if (TrafficLog* log = settings.callLog.get()) {
    log->SetMaskSecrets(options.maskSecrets);
    log->SetMaxBytes(options.logMaxBytes);
  }
  prepared.client = SetupClient(settings.callLog.get(), options);
  ApplyProxy(*prepared.client, settings);
  prepared.client->ProxyParams().credentialsInTunnel = options.proxyCredentialsInTunnel;

  CheckEnvironment(settings.environment);
  // Trailing line breaks of a value read from a file go as they always did; one inside it fails
  // the call here, where the host learns why.
  RefuseLineBreak(u"partner-token", settings.partnerToken);
  prepared.baseUrl = FullBaseUrl(settings.environment, options.apiHost);
  prepared.url = UrlResolver::ResolveUrlParameters(prepared.baseUrl + route, parameters);
  prepared.routeTooLong = prepared.url.size() > UrlResolver::kMaxResolvedUrl;
  prepared.url = UrlResolver::ResolveOptionalParameters(prepared.url, optionalParameters);
  if (!body.empty()) prepared.body = TextToUtf8(body);

  HttpRequest& request = prepared.client->Request();
  request.contentType = kJsonMediaType;
  request.accept = kJsonMediaType;
  request.userAgent = kUserAgent;
  if (needsOauth) {
    request.basicAuthentication = true;
    request.username = settings.clientId;
    request.password = settings.clientSecret;
  } else if (!settings.accessToken.empty()) {
    request.basicAuthentication = false;
    request.username.clear();
    request.password.clear();
    request.customHeaders.Add(u"Authorization", settings.tokenType + u" " + settings.accessToken);
  }
  request.customHeaders.Add(u"api-sdk", kApiSdk);
  if (!settings.partnerToken.empty()) {
    request.customHeaders.Add(u"partner-token", settings.partnerToken);
  }
  request.extraLines = options.extraHeaderLines;
  return prepared;
}

std::u16string CallEndpoint(ThreadSettings& settings, const ConfigItem& endpoint,
                            const std::u16string& body, const ParameterList& parameters,
                            const ParameterList& optionalParameters, bool needsOauth) {
  const MethodRow& row = RowOf(endpoint.method);
  const CallOptions options = CurrentCallOptions(settings);
  // The connection the previous call kept, if any; then the previous client goes: releasing it
  // closes any other connection of its.
  std::optional<KeptConnection> kept = settings.httpClient
                                           ? settings.httpClient->TakeKeptConnection()
                                           : std::optional<KeptConnection>();
  settings.httpClient.reset();
  if (!options.connectionReuse) kept.reset();
  // A log.file set since the log was opened takes effect here, on the loading thread, the only
  // one that writes to the log, and when no client or connection refers to it any more.
  if (settings.ownsLog) {
    const std::u16string& wanted = options.logFile;
    if (wanted != settings.logFileName) {
      kept.reset();
      settings.callLog.reset();
      settings.logFileName = wanted;
      settings.callLog = OpenCallLog(wanted);
    }
  }
  PreparedRequest prepared =
      PrepareRequest(settings, endpoint.endpoint, row.sendsBody ? body : std::u16string(),
                     parameters, optionalParameters, needsOauth && row.sendsClientCredentials);
  // The thread keeps the client until its next call.
  settings.httpClient = std::move(prepared.client);
  settings.httpClient->SetConnectionReuse(options.connectionReuse, options.connectionIdleMs);
  if (kept) settings.httpClient->OfferKeptConnection(std::move(*kept));
  return RunExchange(settings, *settings.httpClient, [&](HttpClient& client) {
    if (prepared.routeTooLong) {
      Raise(ErrorKind::kRequest,
            u"The route and the Parameters make a URL of more than " +
                IntToText(static_cast<std::int64_t>(UrlResolver::kMaxResolvedUrl)) +
                u" characters. Nothing was sent.");
    }
    CheckSameHost(prepared.url, prepared.baseUrl);
    // A kept connection needs HTTP/1.1 for every method; without reuse each method keeps its own.
    const HttpVersion version =
        row.http10 && !options.connectionReuse ? HttpVersion::kHttp10 : HttpVersion::kHttp11;
    return client.Perform(row.name, version, prepared.url, std::move(prepared.body));
  });
}

}  // namespace tessora
