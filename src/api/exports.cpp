// The exported functions: host text in, result buffers out, and failures handed to the host as
// the platform does it.
#include "TessoraNet.h"

#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "api/host_text.h"
#include "api/service.h"
#include "api/settings.h"
#include "api/shared_config.h"
#include "api/thread_settings.h"
#include "base/error.h"
#include "base/text.h"
#include "platform/export.h"
#include "platform/host_failure.h"

static_assert(tessora::platform::kHostFailureCode == TESSORANET_FAILURE_CODE,
              "the failure code the library raises is the one the public header documents");

// The failure kinds have the numbers the public header fixes.
namespace {
constexpr bool SameNumber(tessora::FailureKind kind, int number) {
  return static_cast<int>(kind) == number;
}
}  // namespace
static_assert(
    SameNumber(tessora::FailureKind::kNone, TESSORANET_ERROR_NONE) &&
        SameNumber(tessora::FailureKind::kNameResolution, TESSORANET_ERROR_NAME_RESOLUTION) &&
        SameNumber(tessora::FailureKind::kConnect, TESSORANET_ERROR_CONNECT) &&
        SameNumber(tessora::FailureKind::kTls, TESSORANET_ERROR_TLS) &&
        SameNumber(tessora::FailureKind::kTimeout, TESSORANET_ERROR_TIMEOUT) &&
        SameNumber(tessora::FailureKind::kProxy, TESSORANET_ERROR_PROXY) &&
        SameNumber(tessora::FailureKind::kMalformedAnswer, TESSORANET_ERROR_MALFORMED_ANSWER) &&
        SameNumber(tessora::FailureKind::kIncompleteAnswer, TESSORANET_ERROR_INCOMPLETE_ANSWER) &&
        SameNumber(tessora::FailureKind::kEndpointFile, TESSORANET_ERROR_ENDPOINT_FILE) &&
        SameNumber(tessora::FailureKind::kUnknownOperation, TESSORANET_ERROR_UNKNOWN_OPERATION) &&
        SameNumber(tessora::FailureKind::kSetting, TESSORANET_ERROR_SETTING) &&
        SameNumber(tessora::FailureKind::kOutOfMemory, TESSORANET_ERROR_OUT_OF_MEMORY) &&
        SameNumber(tessora::FailureKind::kRefusedRequest, TESSORANET_ERROR_REFUSED_REQUEST),
    "the failure kinds are numbered as the public header documents");

namespace tessora {
namespace {

// Runs the body of an export. The exports catch nothing on the library's behalf: a failure leaves
// the export as the platform's kind of exception, after every object of the call is destroyed.
template <class Body>
auto RunExport(Body&& body) -> decltype(body()) {
  std::exception_ptr failure;
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    failure = std::current_exception();
  }
  // The message in the thread's text encoding.
  bool utf8 = false;
  try {
    utf8 = HostEncodingOf(ExistingSettings()) == HostEncoding::kUtf8;
  } catch (...) {
    // Not even the setting could be read: the ANSI code page.
  }
  platform::LeaveExport(std::move(failure), utf8);
}

// The text of a failure, as the host gets it from TessoraNet's failure.
std::u16string FailureText(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Error& error) {
    return error.Message();
  } catch (const std::bad_alloc&) {
    return u"Out of memory.";
  } catch (const std::exception& error) {
    return Utf8ToText(error.what());
  } catch (...) {
    return u"Unknown failure.";
  }
}

}  // namespace
}  // namespace tessora

using tessora::CallScope;
using tessora::CurrentSettings;
using tessora::HostEncoding;
using tessora::HostEncodingOf;
using tessora::HostText;
using tessora::RunExport;

extern "C" {

// The exports keep the spelling of the public header, parameter names included. Each holds a
// CallScope while it runs: an unload then leaves the calling thread's settings alone.
// NOLINTBEGIN(readability-identifier-naming)

TESSORA_EXPORT void TESSORANET_CALL ConfigureService(const char* ClientID, const char* ClientSecret,
                                                     const char* Environment,
                                                     const char* ConfigFileName,
                                                     const char* PartnerToken) {
  RunExport([&] {
    const CallScope call;
    // Each field is stored as soon as it is converted: a failure keeps what was stored before it.
    tessora::ThreadSettings& settings = CurrentSettings();
    const HostEncoding encoding = HostEncodingOf(&settings);
    tessora::OwnService(settings);
    settings.clientId = HostText(ClientID, encoding);
    settings.clientSecret = HostText(ClientSecret, encoding);
    settings.environment = HostText(Environment, encoding);
    settings.configFileName = HostText(ConfigFileName, encoding);
    settings.partnerToken = HostText(PartnerToken, encoding);
    tessora::PublishService(settings);
  });
}

TESSORA_EXPORT void TESSORANET_CALL ConfigureProxy(const char* ProxyServer, int ProxyPort,
                                                   const char* ProxyUserName,
                                                   const char* ProxyPassword) {
  RunExport([&] {
    const CallScope call;
    tessora::ThreadSettings& settings = CurrentSettings();
    const HostEncoding encoding = HostEncodingOf(&settings);
    tessora::OwnProxy(settings);
    settings.proxyServer = HostText(ProxyServer, encoding);
    settings.proxyPort = ProxyPort;
    settings.proxyUserName = HostText(ProxyUserName, encoding);
    settings.proxyPassword = HostText(ProxyPassword, encoding);
    tessora::PublishProxy(settings);
  });
}

TESSORA_EXPORT char* TESSORANET_CALL TessoraNet(const char* EndPointOperation,
                                                const char* Parameters,
                                                const char* OptionalParameters, const char* Body) {
  return RunExport([&] {
    const CallScope call;
    tessora::ThreadSettings& settings = CurrentSettings();
    tessora::TakeSharedConfiguration(settings);
    const HostEncoding encoding = HostEncodingOf(&settings);
    return tessora::NewResultBuffer(
        tessora::CallService(settings, HostText(EndPointOperation, encoding),
                             HostText(Parameters, encoding), HostText(OptionalParameters, encoding),
                             HostText(Body, encoding)),
        encoding);
  });
}

TESSORA_EXPORT void TESSORANET_CALL TessoraNetGetInstanceData(char** AccessToken) {
  // A null pointer has nowhere to receive the buffer: nothing to do.
  if (AccessToken == nullptr) return;
  RunExport([&] {
    const CallScope call;
    tessora::ThreadSettings& settings = CurrentSettings();
    tessora::TakeSharedConfiguration(settings);
    *AccessToken = tessora::NewResultBuffer(settings.accessToken, HostEncodingOf(&settings));
  });
}

TESSORA_EXPORT unsigned char TESSORANET_CALL TessoraNetTokenExpired(void) {
  return RunExport([] {
    const CallScope call;
    tessora::ThreadSettings& settings = CurrentSettings();
    tessora::TakeSharedConfiguration(settings);
    return static_cast<unsigned char>(tessora::TokenExpired(settings) ? 1 : 0);
  });
}

// Extensions: nothing leaves these functions as a failure.

TESSORA_EXPORT void TESSORANET_CALL TessoraNetFree(char* Buffer) {
  std::free(Buffer);
}

TESSORA_EXPORT unsigned char TESSORANET_CALL TessoraNetTry(const char* EndPointOperation,
                                                           const char* Parameters,
                                                           const char* OptionalParameters,
                                                           const char* Body, char** Result) {
  const CallScope call;
  std::exception_ptr failure;
  try {
    tessora::ThreadSettings& settings = CurrentSettings();
    tessora::TakeSharedConfiguration(settings);
    const HostEncoding encoding = HostEncodingOf(&settings);
    char* text = tessora::NewResultBuffer(
        tessora::CallService(settings, HostText(EndPointOperation, encoding),
                             HostText(Parameters, encoding), HostText(OptionalParameters, encoding),
                             HostText(Body, encoding)),
        encoding);
    if (Result != nullptr) {
      *Result = text;
    } else {
      std::free(text);
    }
    return 1;
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    const std::u16string message = tessora::FailureText(failure);
    if (tessora::ThreadSettings* settings = tessora::ExistingSettings()) {
      if (settings->lastReason.empty()) settings->lastReason = message;
    }
    if (Result != nullptr) {
      *Result = tessora::NewResultBuffer(message, HostEncodingOf(tessora::ExistingSettings()));
    }
  } catch (...) {
    // Not even the message could be made: no text to hand back.
    if (Result != nullptr) *Result = nullptr;
  }
  return 0;
}

TESSORA_EXPORT int TESSORANET_CALL TessoraNetLastStatus(void) {
  const CallScope call(CallScope::Settings::kExisting);
  const tessora::ThreadSettings* settings = tessora::ExistingSettings();
  return settings != nullptr ? settings->lastStatus : 0;
}

TESSORA_EXPORT void TESSORANET_CALL TessoraNetLastError(char** Reason) {
  if (Reason == nullptr) return;
  const CallScope call(CallScope::Settings::kExisting);
  try {
    const tessora::ThreadSettings* settings = tessora::ExistingSettings();
    *Reason = tessora::NewResultBuffer(settings != nullptr ? settings->lastReason : u"",
                                       HostEncodingOf(settings));
  } catch (...) {
    *Reason = nullptr;
  }
}

TESSORA_EXPORT int TESSORANET_CALL TessoraNetLastErrorKind(void) {
  const CallScope call(CallScope::Settings::kExisting);
  const tessora::ThreadSettings* settings = tessora::ExistingSettings();
  return settings != nullptr ? static_cast<int>(settings->lastFailureKind) : TESSORANET_ERROR_NONE;
}

TESSORA_EXPORT unsigned char TESSORANET_CALL TessoraNetLastHeader(const char* Name, char** Value) {
  if (Value == nullptr) return 0;
  const CallScope call(CallScope::Settings::kExisting);
  try {
    std::optional<std::u16string> value;
    const tessora::ThreadSettings* settings = tessora::ExistingSettings();
    const HostEncoding encoding = HostEncodingOf(settings);
    if (Name != nullptr && settings != nullptr)
      value = tessora::LastAnswerHeader(*settings, HostText(Name, encoding));
    *Value = tessora::NewResultBuffer(value.value_or(u""), encoding);
    return static_cast<unsigned char>(value ? 1 : 0);
  } catch (...) {
    *Value = nullptr;
    return 0;
  }
}

TESSORA_EXPORT unsigned char TESSORANET_CALL TessoraNetSetOption(const char* Name,
                                                                 const char* Value) {
  const CallScope call;
  try {
    tessora::ThreadSettings& settings = CurrentSettings();
    // In the encoding in force before the setting: a host that sets text.encoding passes ASCII.
    const HostEncoding encoding = HostEncodingOf(&settings);
    std::u16string refused =
        tessora::SetOption(settings, HostText(Name, encoding), HostText(Value, encoding));
    if (refused.empty()) return 1;
    // A refused setting is the thread's last call of the library: its reason is the one kept.
    settings.lastStatus = 0;
    settings.lastReason = std::move(refused);
    settings.lastFailureKind = tessora::FailureKind::kSetting;
    return 0;
  } catch (...) {
    return 0;
  }
}

TESSORA_EXPORT unsigned char TESSORANET_CALL TessoraNetGetOption(const char* Name, char** Value) {
  if (Value == nullptr) return 0;
  const CallScope call;
  try {
    tessora::ThreadSettings& settings = CurrentSettings();
    const HostEncoding encoding = HostEncodingOf(&settings);
    const std::u16string name = HostText(Name, encoding);
    const tessora::SettingKey* key = tessora::FindSettingKey(name);
    if (key == nullptr) {
      settings.lastStatus = 0;
      settings.lastFailureKind = tessora::FailureKind::kSetting;
      settings.lastReason = u"There is no setting \"" + name.substr(0, 80) + u"\".";
      for (char16_t& c : settings.lastReason) {
        if (c < 0x20 || c == 0x7F) c = u' ';
      }
      *Value = nullptr;
      return 0;
    }
    *Value = tessora::NewResultBuffer(tessora::OptionInForce(&settings, *key).value, encoding);
    return 1;
  } catch (...) {
    *Value = nullptr;
    return 0;
  }
}

TESSORA_EXPORT const char* TESSORANET_CALL TessoraNetVersion(void) {
  return TESSORA_VERSION;
}

// NOLINTEND(readability-identifier-naming)

}  // extern "C"
