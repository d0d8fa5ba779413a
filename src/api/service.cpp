#include "api/service.h"

#include "api/request.h"
#include "api/thread_settings.h"
#include "base/text.h"
#include "catalogue/catalogue.h"
#include "json/json.h"
#include "platform/clock.h"

namespace tessora {

namespace {

std::u16string Send(const TTessoraConfigItem& endpoint, const TParameterList& params,
                    const TParameterList& optionalParams, const std::u16string& body,
                    bool needsOauth) {
  switch (endpoint.Method) {
    case THttpMethod::kGet:
      return TessoraGet(endpoint.EndPoint, params, optionalParams);
    case THttpMethod::kPost:
      return TessoraPost(endpoint.EndPoint, body, params, optionalParams, needsOauth);
    case THttpMethod::kPut:
      return TessoraPut(endpoint.EndPoint, body, params, optionalParams);
    case THttpMethod::kDelete:
      return TessoraDelete(endpoint.EndPoint, params, optionalParams);
  }
  return {};
}

// Stores the token of a token response in the thread's settings, in the order access token, token
// type, expiry. A failure to read a member leaves the settings written before it replaced.
void CaptureToken(const std::u16string& response, ThreadSettings& settings) {
  if (AsciiUpperCase(response) == kUnauthorizedResponse) return;
  TJsonObject authorize = ParseJsonObject(response);
  settings.AccessToken = authorize.GetString(u"access_token");
  settings.TokenType = authorize.GetString(u"token_type");
  const std::int64_t expiresIn = authorize.GetInteger(u"expires_in");
  // long double holds every 64-bit integer exactly on both targets (x87 extended precision).
  const long double days =
      static_cast<long double>(expiresIn) / static_cast<long double>(SecondsInADay);
  settings.TokenExpiration = static_cast<TDateTime>(platform::NowLocal() + days);
}

}  // namespace

std::u16string TessoraNetService(const std::u16string& EndPointOperation,
                                 const std::u16string& Parameters,
                                 const std::u16string& OptionalParameters,
                                 const std::u16string& Body) {
  ThreadSettings& settings = CurrentSettings();
  const TTessoraConfigItem endpoint =
      TessoraConfig(settings.ConfigFileName).GetEndPoint(EndPointOperation);
  const TParameterList params(Parameters);
  const TParameterList optionalParams(OptionalParameters);
  const bool needsOauth = AsciiUpperCase(EndPointOperation) == kAuthorizeOperation;

  std::u16string result = Send(endpoint, params, optionalParams, Body, needsOauth);
  if (needsOauth) CaptureToken(result, settings);
  return result;
}

}  // namespace tessora
