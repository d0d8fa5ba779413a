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
  THttpClient& client = *CurrentSettings().HttpClient;
  try {
    return exchange(client);
  } catch (...) {
    return client.ResponseText();
  }
}

}  // namespace

std::u16string FullBaseUrl() {
  return u"https://" + CurrentSettings().Environment + AsciiToText(TESSORA_API_HOST);
}

std::unique_ptr<THttpClient> SetupClient() {
  auto client = std::make_unique<THttpClient>();
  client->SetConnectTimeout(kTessoraConnectTimeoutMs);
  // No read time-out of the client's own: the channel bounds every single receive.
  auto channel = std::make_unique<TTlsChannel>();
  channel->SetSSLVersions(sslvTLSv1_2);
  client->SetChannel(std::move(channel));
  client->SetTrafficLog(CurrentSettings().CallLog.get());
  return client;
}

void TessoranetProxy() {
  const ThreadSettings& settings = CurrentSettings();
  if (settings.ProxyServer.empty()) return;
  TProxySettings& proxy = settings.HttpClient->ProxyParams();
  proxy.ProxyServer = settings.ProxyServer;
  proxy.ProxyPort = settings.ProxyPort;
  if (!settings.ProxyUserName.empty() && !settings.ProxyPassword.empty()) {
    proxy.BasicAuthentication = true;
    proxy.ProxyUsername = settings.ProxyUserName;
    proxy.ProxyPassword = settings.ProxyPassword;
  }
}

TPreparedRequest PrepareTessoraRequest(const std::u16string& EndPoint, const std::u16string& Body,
                                       const TParameterList& Parameters,
                                       const TParameterList& OptionalParameters, bool IsOAuth) {
  ThreadSettings& settings = CurrentSettings();
  // The previous call's client goes first: releasing it closes its connection.
  settings.HttpClient.reset();
  settings.HttpClient = SetupClient();
  TessoranetProxy();

  TPreparedRequest prepared;
  const std::u16string templateUrl = FullBaseUrl() + EndPoint;
  prepared.URL = TUrlResolver::ResolveURLParameters(templateUrl, Parameters);
  prepared.URL = TUrlResolver::ResolveOptionalParameters(prepared.URL, OptionalParameters);
  if (!Body.empty()) prepared.Body = TextToUtf8(Body);

  THttpRequest& request = settings.HttpClient->Request();
  request.ContentType = kJsonMediaType;
  request.Accept = kJsonMediaType;
  request.UserAgent = kTessoraUserAgent;
  if (IsOAuth) {
    request.BasicAuthentication = true;
    request.Username = settings.ClientID;
    request.Password = settings.ClientSecret;
  } else if (!settings.AccessToken.empty()) {
    request.BasicAuthentication = false;
    request.Username.clear();
    request.Password.clear();
    request.CustomHeaders.Add(u"Authorization", settings.TokenType + u" " + settings.AccessToken);
  }
  request.CustomHeaders.Add(u"api-sdk", API_SDK);
  if (!settings.PartnerToken.empty()) {
    request.CustomHeaders.Add(u"partner-token", settings.PartnerToken);
  }
  return prepared;
}

std::u16string TessoraPost(const std::u16string& EndPoint, const std::u16string& Body,
                           const TParameterList& Parameters,
                           const TParameterList& OptionalParameters, bool OAuth) {
  TPreparedRequest prepared =
      PrepareTessoraRequest(EndPoint, Body, Parameters, OptionalParameters, OAuth);
  return RunExchange(
      [&](THttpClient& client) { return client.Post(prepared.URL, std::move(prepared.Body)); });
}

std::u16string TessoraPut(const std::u16string& EndPoint, const std::u16string& Body,
                          const TParameterList& Parameters,
                          const TParameterList& OptionalParameters) {
  TPreparedRequest prepared =
      PrepareTessoraRequest(EndPoint, Body, Parameters, OptionalParameters, false);
  return RunExchange(
      [&](THttpClient& client) { return client.Put(prepared.URL, std::move(prepared.Body)); });
}

std::u16string TessoraGet(const std::u16string& EndPoint, const TParameterList& Parameters,
                          const TParameterList& OptionalParameters) {
  const TPreparedRequest prepared =
      PrepareTessoraRequest(EndPoint, u"", Parameters, OptionalParameters, false);
  return RunExchange([&](THttpClient& client) { return client.Get(prepared.URL); });
}

std::u16string TessoraDelete(const std::u16string& EndPoint, const TParameterList& Parameters,
                             const TParameterList& OptionalParameters) {
  const TPreparedRequest prepared =
      PrepareTessoraRequest(EndPoint, u"", Parameters, OptionalParameters, false);
  return RunExchange([&](THttpClient& client) { return client.Delete(prepared.URL); });
}

}  // namespace tessora
