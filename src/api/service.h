// The service call behind the export TessoraNet: one API operation for the calling thread, and the
// capture of the token that the operation "AUTHORIZE" returns.
#pragma once

#include <optional>
#include <string>

namespace tessora {

struct ThreadSettings;

// The operation name of the token request, compared after ASCII upper-casing.
inline constexpr char16_t kAuthorizeOperation[] = u"AUTHORIZE";
// A token response that carries no token, compared after ASCII upper-casing.
inline constexpr char16_t kUnauthorizedResponse[] = u"UNAUTHORIZED";
// Seconds per day, as a 32-bit floating-point constant.
inline constexpr float kSecondsInADay = 86400.0f;

// Performs `endpointOperation` of the endpoint catalogue with the route parameters, the query
// parameters and (for POST and PUT) the body, for the thread whose settings are `settings`;
// returns the response text whatever its status. Raises when the catalogue cannot be built, the
// operation is unknown ("Problem in endpoint"), or a token response cannot be read.
std::u16string CallService(ThreadSettings& settings, const std::u16string& endpointOperation,
                           const std::u16string& parameters,
                           const std::u16string& optionalParameters, const std::u16string& body);

// The header `name` (any letter case) of the answer to the thread's last call, repeated lines
// joined with ", "; none when the header is absent or the last call got no answer.
std::optional<std::u16string> LastAnswerHeader(const ThreadSettings& settings,
                                               std::u16string_view name);

}  // namespace tessora
