// The certificates of the system ROOT store, read with crypt32, and the files the process names
// with SSL_CERT_FILE / SSL_CERT_DIR. OpenSSL's compiled-in folders are never used here: they are
// paths such as "/usr/local/ssl" (on the current drive) that any local user may create.
#include "platform/trust_store.h"

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <mutex>

#include "base/text.h"

namespace tessora::platform {

namespace {

std::vector<std::string> RootStoreCertificates() {
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

// The variable's value as UTF-8 (OpenSSL opens such a name with the wide-character functions),
// "" when it is unset. The system bounds a variable at 32767 characters.
std::string Variable(const wchar_t* name) {
  constexpr DWORD kMaxVariable = 32767;
  std::wstring value(kMaxVariable + 1, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), kMaxVariable + 1);
  if (length == 0 || length > kMaxVariable) return {};
  value.resize(length);
  return TextToUtf8(std::u16string(value.begin(), value.end()));
}

}  // namespace

TrustSources ReadTrustSources(SystemRoots roots) {
  TrustSources sources;
  if (roots == SystemRoots::kAll) sources.systemRoots = RootStoreCertificates();
  sources.systemLookup = true;
  sources.systemDistrust = true;
  sources.systemStoreName = "Windows ROOT store";
  sources.tlsLibraryDefaults = false;
  sources.certFile = Variable(L"SSL_CERT_FILE");
  sources.certDir = Variable(L"SSL_CERT_DIR");
  return sources;
}

std::vector<std::string> SystemRootsWithSubject(std::string_view subject) {
  std::vector<std::string> certificates;
  // A name is short: anything longer than a certificate could be is no subject.
  constexpr std::size_t kMaxSubject = 64 * 1024;
  if (subject.empty() || subject.size() > kMaxSubject) return certificates;
  // The store is opened once and kept for the process: opening it is the costly part (under Wine
  // the first opening in a process takes about 140 ms, each later one about 35 ms), and a
  // server's chain asks for several subjects. A failed opening is tried again next time.
  // (Never destroyed: at the end of the process another thread may still be inside a call.)
  static std::mutex& lock = *new std::mutex;
  static HCERTSTORE store = nullptr;
  std::lock_guard<std::mutex> guard(lock);
  if (store == nullptr) store = CertOpenSystemStoreW(0, L"ROOT");
  if (store == nullptr) return certificates;
  CERT_NAME_BLOB name;
  name.cbData = static_cast<DWORD>(subject.size());
  name.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(subject.data()));
  PCCERT_CONTEXT certificate = nullptr;
  // The store compares the encoded names byte for byte, where the TLS library compares their
  // canonical forms: a root whose subject is encoded otherwise than the issuer name of the
  // certificate it signed is not found.
  while (certificates.size() < kMaxRootsPerSubject &&
         (certificate = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                   CERT_FIND_SUBJECT_NAME, &name, certificate)) !=
             nullptr) {
    certificates.emplace_back(reinterpret_cast<const char*>(certificate->pbCertEncoded),
                              certificate->cbCertEncoded);
  }
  if (certificate != nullptr) CertFreeCertificateContext(certificate);
  return certificates;
}

namespace {

// The user's Disallowed store and the machine's as they were when last read (a store that does not
// exist is none). A full handshake asks about every certificate of its chain, so they are kept,
// and read again each time the TLS context is made (OpenSystemDistrust). A reading that another
// replaced stays open: a thread may still be searching it. (Never closed: at the end of the
// process another thread may still be inside a call.)
struct DistrustStores {
  HCERTSTORE stores[2] = {nullptr, nullptr};
};

std::mutex& DistrustLock() {
  static std::mutex& lock = *new std::mutex;
  return lock;
}
DistrustStores* gDistrustStores = nullptr;  // guarded by DistrustLock()

DistrustStores* ReadDistrustStores() {
  auto* read = new DistrustStores;
  constexpr DWORD kReadExisting = CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG;
  read->stores[0] = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                  CERT_SYSTEM_STORE_CURRENT_USER | kReadExisting, L"Disallowed");
  read->stores[1] = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                  CERT_SYSTEM_STORE_LOCAL_MACHINE | kReadExisting, L"Disallowed");
  return read;
}

const DistrustStores& CurrentDistrustStores() {
  std::lock_guard<std::mutex> guard(DistrustLock());
  if (gDistrustStores == nullptr) gDistrustStores = ReadDistrustStores();
  return *gDistrustStores;
}

}  // namespace

void OpenSystemDistrust() {
  DistrustStores* read = ReadDistrustStores();
  std::lock_guard<std::mutex> guard(DistrustLock());
  gDistrustStores = read;
}

bool SystemDistrusts(std::string_view certificate) {
  // Nothing longer than this is a certificate a chain would carry.
  constexpr std::size_t kMaxCertificate = 1024 * 1024;
  if (certificate.empty() || certificate.size() > kMaxCertificate) return false;
  BYTE thumbprint[20];
  DWORD size = sizeof thumbprint;
  if (!CryptHashCertificate(0, CALG_SHA1, 0, reinterpret_cast<const BYTE*>(certificate.data()),
                            static_cast<DWORD>(certificate.size()), thumbprint, &size)) {
    return false;
  }
  CRYPT_HASH_BLOB hash;
  hash.cbData = size;
  hash.pbData = thumbprint;
  for (HCERTSTORE store : CurrentDistrustStores().stores) {
    if (store == nullptr) continue;
    PCCERT_CONTEXT found = CertFindCertificateInStore(
        store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &hash, nullptr);
    if (found != nullptr) {
      CertFreeCertificateContext(found);
      return true;
    }
  }
  return false;
}

}  // namespace tessora::platform
