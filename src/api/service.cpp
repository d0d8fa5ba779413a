#include "api/service.h"

#include <new>

#include "api/request.h"
#include "api/thread_settings.h"
#include "base/error.h"
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

// The catalogue and the operation's endpoint; a failure keeps its reason for the thread.
TessoraConfigItem EndpointOf(const std::u16string& operation, ThreadSettings& settings) {
  const TessoraConfig* config = nullptr;
  try {
    config = &SharedTessoraConfig(settings.configFileName);
  } catch (const Error& failure) {
    if (failure.Kind() == ErrorKind::kFileOpen) {
      settings.lastReason = failure.Message();  // names the file and the system's reason
    } else {
      settings.lastReason = u"The endpoint file " + settings.configFileName + u" cannot be read: " +
                            failure.Message();
    }
    throw;
  }
  try {
    return config->GetEndPoint(operation);
  } catch (const Error&) {
    settings.lastReason =
        u"Operation " + operation + u" is not in the endpoint file " + config->FileName();
    throw;
  }
}

// Looks the operation up, sends its request and captures a token.
std::u16string PerformOperation(const std::u16string& endPointOperation,
                                const std::u16string& parameters,
                                const std::u16string& optionalParameters,
                                const std::u16string& body, ThreadSettings& settings) {
  const TessoraConfigItem endpoint = EndpointOf(endPointOperation, settings);
  const ParameterList params(parameters);
  const ParameterList optionalParams(optionalParameters);
  const bool needsOauth = AsciiUpperCase(endPointOperation) == kAuthorizeOperation;

  std::u16string result = TessoraRequest(endpoint, body, params, optionalParams, needsOauth);
  if (needsOauth) {
    try {
      CaptureToken(result, settings);
    } catch (const Error& failure) {
      settings.lastReason = u"The token response cannot be read: " + failure.Message();
      throw;
    }
  }
  return result;
}

}  // namespace

std::u16string TessoraNetService(const std::u16string& endPointOperation,
                                 const std::u16string& parameters,
                                 const std::u16string& optionalParameters,
                                 const std::u16string& body) {
  ThreadSettings& settings = CurrentSettings();
  settings.lastStatus = 0;
  settings.lastReason.clear();
  try {
    return PerformOperation(endPointOperation, parameters, optionalParameters, body, settings);
  } catch (const Error& failure) {
    if (settings.lastReason.empty()) settings.lastReason = failure.Message();
    throw;
  } catch (const std::bad_alloc&) {
    settings.lastReason.clear();
    throw;
  }
}

}  // namespace tessora
