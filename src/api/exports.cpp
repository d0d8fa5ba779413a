// The exported functions: host text in, result buffers out, and failures handed to the host as
// the platform does it.
#include "TessoraNet.h"

#include <exception>
#include <utility>

#include "api/host_text.h"
#include "api/service.h"
#include "api/thread_settings.h"
#include "platform/export.h"
#include "platform/host_failure.h"

static_assert(tessora::platform::kHostFailureCode == TESSORANET_FAILURE_CODE,
              "the failure code the library raises is the one the public header documents");

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
  platform::LeaveExport(std::move(failure));
}

}  // namespace
}  // namespace tessora

using tessora::CurrentSettings;
using tessora::HostText;
using tessora::RunExport;

extern "C" {

// The exports keep the spelling of the public header, parameter names included.
// NOLINTBEGIN(readability-identifier-naming)

TESSORA_EXPORT void TESSORANET_CALL ConfigureService(const char* ClientID, const char* ClientSecret,
                                                     const char* Environment,
                                                     const char* ConfigFileName,
                                                     const char* PartnerToken) {
  RunExport([&] {
    // Each field is stored as soon as it is converted: a failure keeps what was stored before it.
    tessora::ThreadSettings& settings = CurrentSettings();
    settings.clientId = HostText(ClientID);
    settings.clientSecret = HostText(ClientSecret);
    settings.environment = HostText(Environment);
    settings.configFileName = HostText(ConfigFileName);
    settings.partnerToken = HostText(PartnerToken);
  });
}

TESSORA_EXPORT void TESSORANET_CALL ConfigureProxy(const char* ProxyServer, int ProxyPort,
                                                   const char* ProxyUserName,
                                                   const char* ProxyPassword) {
  RunExport([&] {
    tessora::ThreadSettings& settings = CurrentSettings();
    settings.proxyServer = HostText(ProxyServer);
    settings.proxyPort = ProxyPort;
    settings.proxyUserName = HostText(ProxyUserName);
    settings.proxyPassword = HostText(ProxyPassword);
  });
}

TESSORA_EXPORT char* TESSORANET_CALL TessoraNet(const char* EndPointOperation,
                                                const char* Parameters,
                                                const char* OptionalParameters, const char* Body) {
  return RunExport([&] {
    return tessora::NewResultBuffer(
        tessora::TessoraNetService(HostText(EndPointOperation), HostText(Parameters),
                                   HostText(OptionalParameters), HostText(Body)));
  });
}

TESSORA_EXPORT void TESSORANET_CALL TessoraNetGetInstanceData(char** AccessToken) {
  RunExport([&] { *AccessToken = tessora::NewResultBuffer(CurrentSettings().accessToken); });
}

TESSORA_EXPORT unsigned char TESSORANET_CALL TessoraNetTokenExpired(void) {
  return RunExport([] { return static_cast<unsigned char>(tessora::TokenExpired() ? 1 : 0); });
}

// NOLINTEND(readability-identifier-naming)

}  // extern "C"
