// The platform's store of trusted root certificates, for the TLS channel to import.
#pragma once

#include <string>
#include <vector>

namespace tessora::platform {

// The DER encodings of the certificates in the system ROOT store (Windows). Empty where the TLS
// library finds the system's trusted roots by itself (POSIX: OpenSSL's default verify paths).
std::vector<std::string> SystemRootCertificates();

}  // namespace tessora::platform
