#include "api/request.h"

#include "api/thread_settings.h"
#include "base/error.h"
#include "base/text.h"
#include "http/client.h"
#include "http/traffic_log.h"
#include "net/tls_channel.h"

namespace tessora {

namespace {

// Runs one exchange of the thread's current client. A failure of the exchange (name resolution,
// connection, TLS, time-outs, a connection lost, an over-long header line) is not the host's
// concern: the result is then the last status line received, or the empty text.
template <class Exchange>
std::u16string RunExchange(Exchange&& exchange) {
  HttpClient& client = *CurrentSettings().httpClient;
  try {
    return exchange(client);
  } catch (const Error&) {
    // Anything else (exhausted memory above all) is a failure of the call itself.
    return client.ResponseText();
  }
}

}  // namespace

std::u16string FullBaseUrl() {
  return u"https://" + CurrentSettings().environment + AsciiToText(TESSORA_API_HOST);
}

std::unique_ptr<HttpClient> SetupClient() {
  auto client = std::make_unique<HttpClient>();
  client->SetConnectTimeout(kTessoraConnectTimeoutMs);
  // No read time-out of the client's own: the channel bounds every single receive.
  auto channel = std::make_unique<TlsChannel>();
  client->SetChannel(std::move(channel));
  client->SetLog(CurrentSettings().callLog.get());
  return client;
}

void TessoranetProxy() {
  const ThreadSettings& settings = CurrentSettings();
  if (settings.proxyServer.empty()) return;
  ProxySettings& proxy = settings.httpClient->ProxyParams();
  proxy.proxyServer = settings.proxyServer;
  proxy.proxyPort = settings.proxyPort;
  if (!settings.proxyUserName.empty() && !settings.proxyPassword.empty()) {
    proxy.basicAuthentication = true;
    proxy.proxyUsername = settings.proxyUserName;
    proxy.proxyPassword = settings.proxyPassword;
  }
}

PreparedRequest PrepareTessoraRequest(const std::u16string& endPoint, const std::u16string& body,
                                      const ParameterList& parameters,
                                      const ParameterList& optionalParameters, bool isOAuth) {
  ThreadSettings& settings = CurrentSettings();
  // The previous call's client goes first: releasing it closes its connection.
  settings.httpClient.reset();
  settings.httpClient = SetupClient();
  TessoranetProxy();

  PreparedRequest prepared;
  const std::u16string templateUrl = FullBaseUrl() + endPoint;
  prepared.url = UrlResolver::ResolveURLParameters(templateUrl, parameters);
  prepared.url = UrlResolver::ResolveOptionalParameters(prepared.url, optionalParameters);
  if (!body.empty()) prepared.body = TextToUtf8(body);

  HttpRequest& request = settings.httpClient->Request();
  request.contentType = kJsonMediaType;
  request.accept = kJsonMediaType;
  request.userAgent = kTessoraUserAgent;
  if (isOAuth) {
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
  return prepared;
}

const MethodRow& MethodRowOf(HttpMethod method) {
  for (const MethodRow& row : kMethods) {
    if (row.method == method) return row;
  }
  return kMethods[0];
}

std::u16string TessoraRequest(const TessoraConfigItem& endpoint, const std::u16string& body,
                              const ParameterList& parameters,
                              const ParameterList& optionalParameters, bool isTokenRequest) {
  const MethodRow& row = MethodRowOf(endpoint.method);
  PreparedRequest prepared =
      PrepareTessoraRequest(endpoint.endPoint, row.sendsBody ? body : std::u16string(), parameters,
                            optionalParameters, isTokenRequest && row.sendsClientCredentials);
  return RunExchange([&](HttpClient& client) {
    return client.Perform(row.name, row.version, prepared.url, std::move(prepared.body));
  });
}

}  // namespace tessora
