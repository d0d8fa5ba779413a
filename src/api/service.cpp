#include "api/service.h"

#include "api/request.h"
#include "api/thread_settings.h"
#include "base/text.h"
#include "catalogue/catalogue.h"
#include "json/json.h"
#include "platform/clock.h"

namespace tessora {

namespace {

// Stores the token of a token response in the thread's settings, in the order access token, token
// type, expiry. A failure to read a member leaves the settings written before it replaced.
void CaptureToken(const std::u16string& response, ThreadSettings& settings) {
  if (AsciiUpperCase(response) == kUnauthorizedResponse) return;
  JsonObject authorize = ParseJsonObject(response);
  settings.accessToken = authorize.GetString(u"access_token");
  settings.tokenType = authorize.GetString(u"token_type");
  const std::int64_t expiresIn = authorize.GetInteger(u"expires_in");
  // long double holds every 64-bit integer exactly on both targets (x87 extended precision).
  const long double days =
      static_cast<long double>(expiresIn) / static_cast<long double>(kSecondsInADay);
  settings.tokenExpiration = static_cast<DateTime>(platform::NowLocal() + days);
}

}  // namespace

std::u16string TessoraNetService(const std::u16string& endPointOperation,
                                 const std::u16string& parameters,
                                 const std::u16string& optionalParameters,
                                 const std::u16string& body) {
  ThreadSettings& settings = CurrentSettings();
  const TessoraConfigItem endpoint =
      SharedTessoraConfig(settings.configFileName).GetEndPoint(endPointOperation);
  const ParameterList params(parameters);
  const ParameterList optionalParams(optionalParameters);
  const bool needsOauth = AsciiUpperCase(endPointOperation) == kAuthorizeOperation;

  std::u16string result = TessoraRequest(endpoint, body, params, optionalParams, needsOauth);
  if (needsOauth) CaptureToken(result, settings);
  return result;
}

}  // namespace tessora
