// Linux: the libssl and libcrypto loaded into the process (the library links them), asked for
// their version through their own exports.
#include <dlfcn.h>
#include <link.h>

#include <string>
#include <string_view>

#include "openssl_in_use.h"

namespace tessora::cli {

namespace {

struct Found {
  std::string ssl;
  std::string crypto;
};

bool Named(std::string_view path, std::string_view prefix) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return name.substr(0, prefix.size()) == prefix;
}

int Visit(dl_phdr_info* info, std::size_t, void* data) {
  auto* found = static_cast<Found*>(data);
  const std::string_view path = info->dlpi_name != nullptr ? info->dlpi_name : "";
  if (found->ssl.empty() && Named(path, "libssl.so")) found->ssl = path;
  if (found->crypto.empty() && Named(path, "libcrypto.so")) found->crypto = path;
  return 0;
}

std::string FileName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

}  // namespace

// (The Windows names: the advice is for the Windows library; Linux links OpenSSL 3.)
std::string OpenSsl3Files() {
  return "libssl-3.dll and libcrypto-3.dll";
}

std::optional<OpenSslInUse> FindOpenSslInUse() {
  Found found;
  dl_iterate_phdr(&Visit, &found);
  if (found.ssl.empty() || found.crypto.empty()) return std::nullopt;
  OpenSslInUse result;
  result.files = FileName(found.ssl) + " + " + FileName(found.crypto);
  const std::size_t slash = found.crypto.rfind('/');
  if (slash != std::string::npos) result.files += " from " + found.crypto.substr(0, slash);
  // Already loaded: this only takes another reference, given back below.
  if (void* crypto = dlopen(found.crypto.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
    using VersionText = const char* (*)(int);
    using VersionNumber = unsigned long (*)();
    auto text = reinterpret_cast<VersionText>(dlsym(crypto, "OpenSSL_version"));
    auto number = reinterpret_cast<VersionNumber>(dlsym(crypto, "OpenSSL_version_num"));
    if (text == nullptr) text = reinterpret_cast<VersionText>(dlsym(crypto, "SSLeay_version"));
    if (number == nullptr) number = reinterpret_cast<VersionNumber>(dlsym(crypto, "SSLeay"));
    if (text != nullptr && text(0) != nullptr) result.version = text(0);
    if (number != nullptr) result.number = number();
    dlclose(crypto);
  }
  return result;
}

}  // namespace tessora::cli
