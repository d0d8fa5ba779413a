#include "api/service.h"

#include <atomic>
#include <new>

#include "api/request.h"
#include "api/settings.h"
#include "api/shared_config.h"
#include "api/thread_settings.h"
#include "base/error.h"
#include "base/text.h"
#include "catalogue/catalogue.h"
#include "http/client.h"
#include "json/json.h"
#include "platform/clock.h"

namespace tessora {

namespace {

// The first control character of a text, or 0 when it holds none.
char16_t FirstControl(std::u16string_view text) {
  for (const char16_t c : text) {
    if (c < 0x20 || c == 0x7F) return c;
  }
  return 0;
}

// A token the server sent with a control character in it would reach the "Authorization" line of
// every later request of the thread, where a line break adds header lines of the server's choice.
// Such a token is not kept: the thread is left without one, and the reason says why.
bool RefuseToken(std::u16string_view member, std::u16string_view value, ThreadSettings& settings) {
  const char16_t control = FirstControl(value);
  if (control == 0) return false;
  settings.accessToken.clear();
  settings.tokenType.clear();
  settings.tokenExpiration = 0.0;
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  const std::u16string code = {u'U', u'+', u'0', u'0', kHex[control >> 4], kHex[control & 15]};
  settings.lastReason = u"The token response's " + std::u16string(member) +
                        u" holds a control character (" + code + u"), so no token was kept.";
  settings.lastFailureKind = FailureKind::kMalformedAnswer;
  PublishToken(settings);
  return true;
}

// Stores the token of a token response in the thread's settings, in the order access token, token
// type, expiry. A failure to read a member leaves the settings written before it replaced.
void CaptureToken(const std::u16string& response, ThreadSettings& settings) {
  if (AsciiUpperCase(response) == kUnauthorizedResponse) return;
  JsonObject authorize = ParseJsonObject(response);
  std::u16string accessToken = authorize.GetString(u"access_token");
  if (RefuseToken(u"access_token", accessToken, settings)) return;
  settings.accessToken = std::move(accessToken);
  std::u16string tokenType = authorize.GetString(u"token_type");
  if (RefuseToken(u"token_type", tokenType, settings)) return;
  settings.tokenType = std::move(tokenType);
  const std::int64_t expiresIn = authorize.GetInteger(u"expires_in");
  // long double holds every 64-bit integer exactly on both targets (x87 extended precision).
  const long double days =
      static_cast<long double>(expiresIn) / static_cast<long double>(kSecondsInADay);
  settings.tokenExpiration = static_cast<DateTime>(platform::NowLocal() + days);
  // The process's token too (config.shared).
  PublishToken(settings);
}

// The endpoint file's "SETTINGS", handed to the settings once per catalogue read.
void ApplyConfigSettings(const Config& config) {
  // A file without operations is read again by every call; only its first read counts for it.
  static std::atomic<std::uint64_t> applied{0};
  if (applied.exchange(config.ReadNumber()) == config.ReadNumber()) return;
  ApplyFileSettings(config.Settings());
}

// The catalogue and the operation's endpoint; a failure keeps its reason for the thread.
ConfigItem EndpointOf(const std::u16string& operation, ThreadSettings& settings) {
  std::shared_ptr<const Config> config;
  try {
    config = SharedConfig(settings.configFileName);
  } catch (const Error& failure) {
    settings.lastFailureKind = FailureKind::kEndpointFile;
    if (failure.Kind() == ErrorKind::kFileOpen) {
      settings.lastReason = failure.Message();  // names the file and the system's reason
    } else {
      settings.lastReason = u"The endpoint file " + settings.configFileName + u" cannot be read: " +
                            failure.Message();
    }
    throw;
  }
  // The file's settings take effect from the first call that reads it on.
  ApplyConfigSettings(*config);
  try {
    return config->GetEndpoint(operation);
  } catch (const Error&) {
    settings.lastReason =
        u"Operation " + operation + u" is not in the endpoint file " + config->FileName();
    settings.lastFailureKind = FailureKind::kUnknownOperation;
    throw;
  }
}

// Looks the operation up, sends its request and captures a token.
std::u16string PerformOperation(const std::u16string& endpointOperation,
                                const std::u16string& parameters,
                                const std::u16string& optionalParameters,
                                const std::u16string& body, ThreadSettings& settings) {
  const ConfigItem endpoint = EndpointOf(endpointOperation, settings);
  const ParameterList params(parameters);
  const ParameterList optionalParams(optionalParameters);
  const bool needsOauth = AsciiUpperCase(endpointOperation) == kAuthorizeOperation;

  std::u16string result =
      CallEndpoint(settings, endpoint, body, params, optionalParams, needsOauth);
  if (needsOauth) {
    try {
      CaptureToken(result, settings);
    } catch (const Error& failure) {
      settings.lastReason = u"The token response cannot be read: " + failure.Message();
      settings.lastFailureKind = FailureKind::kMalformedAnswer;
      throw;
    }
  }
  return result;
}

}  // namespace

std::u16string CallService(ThreadSettings& settings, const std::u16string& endpointOperation,
                           const std::u16string& parameters,
                           const std::u16string& optionalParameters, const std::u16string& body) {
  settings.lastStatus = 0;
  settings.lastReason.clear();
  settings.lastFailureKind = FailureKind::kNone;
  try {
    return PerformOperation(endpointOperation, parameters, optionalParameters, body, settings);
  } catch (const Error& failure) {
    if (settings.lastReason.empty()) settings.lastReason = failure.Message();
    if (settings.lastFailureKind == FailureKind::kNone) {
      settings.lastFailureKind = failure.Kind() == ErrorKind::kRequest
                                     ? FailureKind::kRefusedRequest
                                     : FailureKind::kMalformedAnswer;
    }
    throw;
  } catch (const std::bad_alloc&) {
    settings.lastReason.clear();
    settings.lastFailureKind = FailureKind::kOutOfMemory;
    throw;
  }
}

std::optional<std::u16string> LastAnswerHeader(const ThreadSettings& settings,
                                               std::u16string_view name) {
  if (settings.lastStatus == 0 || !settings.httpClient) return std::nullopt;
  return settings.httpClient->Response().rawHeaders.JoinedValues(name);
}

}  // namespace tessora
