// On POSIX the TLS library finds the system's trusted roots through its default verify paths,
// which take SSL_CERT_FILE / SSL_CERT_DIR into account by themselves.
#include "platform/trust_store.h"

#include <cstdlib>

namespace tessora::platform {

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

TrustSources ReadTrustSources(SystemRoots) {
  TrustSources sources;
  sources.tlsLibraryDefaults = true;
  sources.certFile = Variable("SSL_CERT_FILE");
  sources.certDir = Variable("SSL_CERT_DIR");
  return sources;
}

std::vector<std::string> SystemRootsWithSubject(std::string_view) {
  return {};
}

void OpenSystemDistrust() {}

bool SystemDistrusts(std::string_view) {
  return false;
}

}  // namespace tessora::platform
