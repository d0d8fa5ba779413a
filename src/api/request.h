// The library's request layer: a fresh HTTP client for every call, carrying the library's fixed
// headers and the thread's credentials and proxy, and the call of an endpoint's method, which
// turns every failure of the exchange into a result text.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/catalogue.h"
#include "http/message.h"
#include "http/request_profile.h"

namespace tessora {

class Error;
class HttpClient;

// What PrepareRequest hands to the verb function that asked for it.
struct PreparedRequest {
  // The complete URL: scheme, host, route with its placeholders filled, query string.
  std::u16string url;
  // The UTF-8 bytes of the body text, without a byte-order mark; none for an empty text.
  std::optional<std::string> body;
};

// Why an exchange got no answer, in plain words with what a support person needs: the host and
// port it tried, the proxy's answer, the certificate check's verdict.
std::u16string ExchangeFailureReason(const Error& failure, const HttpClient& client);

// "https://" + the thread's Environment + the API host suffix.
std::u16string FullBaseUrl();
// A new client: 20000 ms connect time-out, every status an answer, a TLS 1.2 channel, and the
// thread's traffic log when it has one.
std::unique_ptr<HttpClient> SetupClient();
// Gives the thread's current client the thread's proxy, if one is configured.
void ApplyProxy();
// Releases the thread's previous client, builds the new one and its request.
PreparedRequest PrepareRequest(const std::u16string& endpoint, const std::u16string& body,
                               const ParameterList& parameters,
                               const ParameterList& optionalParameters, bool needsOauth);

// Calls an endpoint with its method: the response text whatever its status; after a failure of
// the exchange, the last status line received, or the empty text. `isTokenRequest` sends the
// client credentials where the method does.
std::u16string CallEndpoint(const ConfigItem& endpoint, const std::u16string& body,
                            const ParameterList& parameters,
                            const ParameterList& optionalParameters, bool isTokenRequest);

}  // namespace tessora
