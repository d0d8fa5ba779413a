// Where the TLS channel's trusted certificates come from, as the platform decides.
#pragma once

#include <string>
#include <vector>

namespace tessora::platform {

struct TrustSources {
  // The DER encodings of the certificates of the system's store of trusted roots, for the channel
  // to add to its trust store, and that store's name for reports. Empty where the TLS library
  // finds the system's roots by itself (POSIX).
  std::vector<std::string> systemRoots;
  std::string systemStoreName;
  // Whether the TLS library's own default verify paths are used (POSIX: OpenSSL's compiled-in
  // folders, which honour SSL_CERT_FILE / SSL_CERT_DIR by themselves). Never on Windows: there
  // they are folders that a local user may create.
  bool tlsLibraryDefaults = false;
  // SSL_CERT_FILE and SSL_CERT_DIR as the process's environment sets them, UTF-8; "" when unset
  // or empty. Where tlsLibraryDefaults is false the channel loads them itself; otherwise the TLS
  // library does, and these are for reports.
  std::string certFile;
  std::string certDir;
};

// Reads the trust sources: the system store (Windows ROOT) and the environment, as they are now.
TrustSources ReadTrustSources();

}  // namespace tessora::platform
