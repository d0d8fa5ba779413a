// The certificates of the system ROOT store, read with crypt32.
#include "platform/trust_store.h"

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

namespace tessora::platform {

std::vector<std::string> SystemRootCertificates() {
  std::vector<std::string> certificates;
  HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
  if (store == nullptr) return certificates;
  PCCERT_CONTEXT certificate = nullptr;
  while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr) {
    if (certificate->dwCertEncodingType & X509_ASN_ENCODING) {
      certificates.emplace_back(reinterpret_cast<const char*>(certificate->pbCertEncoded),
                                certificate->cbCertEncoded);
    }
  }
  CertCloseStore(store, 0);
  return certificates;
}

}  // namespace tessora::platform
