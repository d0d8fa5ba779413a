// Windows: the DLL pairs the library's loader may have loaded, OpenSSL 3 first (a pair it refused
// is unloaded again; a refused 1.0 pair may stay loaded, so it comes after), asked for their
// version through their own exports.
#include <windows.h>

#include <string>

#include "net/openssl/names.h"
#include "openssl_in_use.h"

namespace tessora::cli {

namespace {

struct Pair {
  const wchar_t* ssl;
  const wchar_t* crypto;
  const char* versionText;    // const char* f(int type), type 0: the version
  const char* versionNumber;  // unsigned long f()
};

const wchar_t* Wide(const char16_t* name) {
  return reinterpret_cast<const wchar_t*>(name);
}

const Pair kPairs[] = {
    {Wide(openssl::kOpenSsl3SslLibrary), Wide(openssl::kOpenSsl3CryptoLibrary), "OpenSSL_version",
     "OpenSSL_version_num"},
    {L"ssleay32.dll", L"libeay32.dll", "SSLeay_version", "SSLeay"},
    {L"libssl32.dll", L"libeay32.dll", "SSLeay_version", "SSLeay"},
};

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  }
  return out;
}

std::wstring FolderOf(HMODULE module) {
  std::wstring path(32768, L'\0');
  const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n < path.size() ? n : 0);
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

template <class T>
T Export(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::string OpenSsl3Files() {
  return Narrow(Wide(openssl::kOpenSsl3SslLibrary)) + " and " +
         Narrow(Wide(openssl::kOpenSsl3CryptoLibrary));
}

std::optional<OpenSslInUse> FindOpenSslInUse() {
  for (const Pair& pair : kPairs) {
    HMODULE ssl = GetModuleHandleW(pair.ssl);
    HMODULE crypto = GetModuleHandleW(pair.crypto);
    if (ssl == nullptr || crypto == nullptr) continue;
    OpenSslInUse found;
    found.files = Narrow(std::wstring(pair.ssl) + L" + " + pair.crypto);
    const std::wstring folder = FolderOf(crypto);
    if (!folder.empty()) found.files += " from " + Narrow(folder);
    if (auto text = Export<const char* (*)(int)>(crypto, pair.versionText)) {
      if (const char* version = text(0)) found.version = version;
    }
    if (auto number = Export<unsigned long (*)()>(crypto, pair.versionNumber)) {
      found.number = number();
    }
    return found;
  }
  return std::nullopt;
}

}  // namespace tessora::cli
