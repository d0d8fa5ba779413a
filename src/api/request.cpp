#include "api/request.h"

#include "api/thread_settings.h"
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
  } catch (...) {
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
  channel->SetSSLVersions(kSslvTlSv12);
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

std::u16string TessoraPost(const std::u16string& endPoint, const std::u16string& body,
                           const ParameterList& parameters, const ParameterList& optionalParameters,
                           bool oAuth) {
  PreparedRequest prepared =
      PrepareTessoraRequest(endPoint, body, parameters, optionalParameters, oAuth);
  return RunExchange(
      [&](HttpClient& client) { return client.Post(prepared.url, std::move(prepared.body)); });
}

std::u16string TessoraPut(const std::u16string& endPoint, const std::u16string& body,
                          const ParameterList& parameters,
                          const ParameterList& optionalParameters) {
  PreparedRequest prepared =
      PrepareTessoraRequest(endPoint, body, parameters, optionalParameters, false);
  return RunExchange(
      [&](HttpClient& client) { return client.Put(prepared.url, std::move(prepared.body)); });
}

std::u16string TessoraGet(const std::u16string& endPoint, const ParameterList& parameters,
                          const ParameterList& optionalParameters) {
  const PreparedRequest prepared =
      PrepareTessoraRequest(endPoint, u"", parameters, optionalParameters, false);
  return RunExchange([&](HttpClient& client) { return client.Get(prepared.url); });
}

std::u16string TessoraDelete(const std::u16string& endPoint, const ParameterList& parameters,
                             const ParameterList& optionalParameters) {
  const PreparedRequest prepared =
      PrepareTessoraRequest(endPoint, u"", parameters, optionalParameters, false);
  return RunExchange([&](HttpClient& client) { return client.Delete(prepared.url); });
}

}  // namespace tessora
