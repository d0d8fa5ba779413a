#include "net/tls_library.h"

#include "net/openssl/binding.h"

namespace tessora {

bool TlsLibraryAvailable() {
  return openssl::LoadOpenSsl() != nullptr;
}

void ReleaseTlsLibrary() {
  openssl::UnloadOpenSsl();
}

void SearchTlsLibraryFirstIn(const std::u16string& folder) {
  openssl::SetOwnFolder(&folder);
}

}  // namespace tessora
