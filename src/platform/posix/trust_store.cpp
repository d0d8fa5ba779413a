// On POSIX the TLS library finds the system's trusted roots through its default verify paths.
#include "platform/trust_store.h"

namespace tessora::platform {

std::vector<std::string> SystemRootCertificates() {
  return {};
}

}  // namespace tessora::platform
