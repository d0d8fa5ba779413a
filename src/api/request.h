// The library's request layer: a fresh HTTP client for every call, carrying the library's fixed
// headers and the thread's credentials and proxy, and the call of an endpoint's method, which
// turns every failure of the exchange into a result text.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "api/settings.h"
#include "catalogue/catalogue.h"
#include "http/message.h"
#include "http/request_profile.h"

namespace tessora {

class Error;
class HttpClient;
class TrafficLog;
struct ThreadSettings;
enum class FailureKind : int;

// What PrepareRequest hands to the verb function that asked for it: a client configured for the
// call, the URL and the body.
struct PreparedRequest {
  std::unique_ptr<HttpClient> client;
  // The complete URL: scheme, host, route with its placeholders filled, query string.
  std::u16string url;
  // The URL the route and the Parameters were filled into: where the request must go.
  std::u16string baseUrl;
  // Whether filling the route's placeholders made the URL longer than
  // UrlResolver::kMaxResolvedUrl (the exchange then refuses it).
  bool routeTooLong = false;
  // The UTF-8 bytes of the body text, without a byte-order mark; none for an empty text.
  std::optional<std::string> body;
};

// Why an exchange got no answer, in plain words with what a support person needs: the host and
// port it tried, the proxy's answer, the certificate check's verdict.
std::u16string ExchangeFailureReason(const Error& failure, const HttpClient& client);
// The kind of that failure, as hosts branch on it.
FailureKind ExchangeFailureKind(const Error& failure, const HttpClient& client);

// "https://" + `environment` + `apiHost` (the API host suffix, the api.host setting).
std::u16string FullBaseUrl(const std::u16string& environment, const std::u16string& apiHost);
// A new client: the connect, single receive and whole-call time-outs of `options` (by default
// 20000 ms, 30000 ms, none), every status an answer, a TLS channel (TLS 1.2, up to 1.3 with
// tls.max-version "1.3"), and `log` (the loading thread's traffic log) when there is one.
std::unique_ptr<HttpClient> SetupClient(TrafficLog* log, const CallOptions& options);
// Gives `client` the proxy of `settings`, if one is configured.
void ApplyProxy(HttpClient& client, const ThreadSettings& settings);
// A client for one call with the settings' credentials and proxy, and the call's request: the
// route filled from `parameters` and `optionalParameters`, the body text, the basic credentials
// of the token request when `needsOauth`. Raises when the Environment could split the host or a
// header value would add a header line; nothing is sent then. The filled URL is not checked here
// (CheckSameHost).
PreparedRequest PrepareRequest(const ThreadSettings& settings, const std::u16string& route,
                               const std::u16string& body, const ParameterList& parameters,
                               const ParameterList& optionalParameters, bool needsOauth);

// Raises when `url`, the route and the Parameters filled into `baseUrl`, goes to another scheme,
// user part, host or port than `baseUrl` ("@evil.example/..." as a route, a Parameters line whose
// empty name replaces the colon of "https://"). CallEndpoint runs it as part of the exchange: such
// a call fails as a request to another host would (the call gives "" and the reason), with nothing
// sent anywhere.
void CheckSameHost(const std::u16string& url, const std::u16string& baseUrl);

// Calls an endpoint with its method on the thread of `settings`: releases the thread's previous
// client, prepares the new one (kept in `settings` until the thread's next call) and runs the
// exchange. The response text whatever its status; after a failure of the exchange, the last
// status line received, or the empty text. `needsOauth` sends the client credentials where the
// method does.
std::u16string CallEndpoint(ThreadSettings& settings, const ConfigItem& endpoint,
                            const std::u16string& body, const ParameterList& parameters,
                            const ParameterList& optionalParameters, bool needsOauth);

}  // namespace tessora
