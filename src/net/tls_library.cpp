#include "net/tls_library.h"

#include "net/openssl/binding.h"

namespace tessora {

bool TlsLibraryAvailable() {
  return openssl::LoadOpenSsl() != nullptr;
}

bool TlsLibraryHasTls13() {
  const openssl::Api* api = openssl::LoadOpenSsl();
  return api != nullptr && api->setMaxProtoVersion != nullptr;
}

void ReleaseTlsLibrary() {
  openssl::UnloadOpenSsl();
}

void SearchTlsLibraryFirstIn(const std::u16string& folder) {
  openssl::SetOwnFolder(&folder);
}

}  // namespace tessora
