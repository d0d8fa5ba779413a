#include "net/tls_library.h"

#include <atomic>

#include "net/openssl/binding.h"

namespace tessora {

namespace {
std::atomic<bool> gLeftAlone{false};
}  // namespace

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

void LeaveTlsLibraryAlone(bool alone) {
  gLeftAlone.store(alone, std::memory_order_release);
}

bool TlsLibraryLeftAlone() {
  return gLeftAlone.load(std::memory_order_acquire);
}

void SearchTlsLibraryFirstIn(const std::u16string& folder) {
  openssl::SetOwnFolder(&folder);
}

}  // namespace tessora
