// Where the TLS channel's trusted certificates come from, as the platform decides.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tessora::platform {

// How the system's store of trusted roots is read.
enum class SystemRoots {
  kAll,       // every certificate, at once
  kOnDemand,  // none at once: the channel asks SystemRootsWithSubject for an issuer it needs
};

struct TrustSources {
  // The DER encodings of the certificates of the system's store of trusted roots, for the channel
  // to add to its trust store, and that store's name for reports. Empty where the TLS library
  // finds the system's roots by itself (POSIX), and when they are read on demand.
  std::vector<std::string> systemRoots;
  std::string systemStoreName;
  // Whether the system store can be searched by subject (SystemRootsWithSubject) instead: Windows.
  bool systemLookup = false;
  // Whether the system keeps certificates it distrusts, for SystemDistrusts to consult: Windows.
  bool systemDistrust = false;
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

// Reads the trust sources: the system store (Windows ROOT; with kOnDemand only its name) and the
// environment, as they are now.
TrustSources ReadTrustSources(SystemRoots roots = SystemRoots::kAll);

// A system store holds at most this many roots of one subject worth taking (a renewed root keeps
// its subject); more are left out.
inline constexpr std::size_t kMaxRootsPerSubject = 8;

// The DER encodings of the system store's trusted roots whose subject is `subject` (a DER-encoded
// name), at most kMaxRootsPerSubject; none on POSIX, where the TLS library reads the system's
// roots itself. The store is opened by the first search and kept for the process. Thread-safe.
std::vector<std::string> SystemRootsWithSubject(std::string_view subject);

// Whether the system distrusts the certificate (its DER encoding): on Windows one that the
// user's or the machine's Disallowed store ("Untrusted Certificates") holds, found by its SHA-1
// thumbprint, where an administrator puts a compromised root or intermediate; never on POSIX,
// where a distrusted root is taken out of the trusted ones instead. The stores are read at the
// first question and kept, until OpenSystemDistrust reads them again. Thread-safe.
bool SystemDistrusts(std::string_view certificate);
// Reads what SystemDistrusts consults (again), ahead of its next question: when the TLS context is
// made, during the first connect (reading the stores takes about 2 ms under Wine), so that
// certificates distrusted since the last context was made count from the next one.
void OpenSystemDistrust();

}  // namespace tessora::platform
