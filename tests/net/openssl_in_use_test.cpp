// Which OpenSSL the programs in bin/ get (Windows): the line placed next to them. The Windows test
// run places one line there at a time and runs the tests once per line; this makes sure each run
// tests the line it means to.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "net/openssl/binding.h"
#include "net/openssl/names.h"

namespace tessora {
namespace {

namespace fs = std::filesystem;

fs::path FolderOf(HMODULE module) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  return fs::path(std::wstring(path, n)).parent_path();
}

// The OpenSSL 3 names of this build's width ("-x64" in 64-bit builds).
const wchar_t* const kCrypto3 = reinterpret_cast<const wchar_t*>(openssl::kOpenSsl3CryptoLibrary);
const wchar_t* const kSsl3 = reinterpret_cast<const wchar_t*>(openssl::kOpenSsl3SslLibrary);

bool LoadedFrom(const wchar_t* name, const fs::path& folder) {
  HMODULE module = GetModuleHandleW(name);
  return module != nullptr && fs::equivalent(FolderOf(module), folder);
}

TEST(OpenSslInUse, TheLinePlacedNextToTheProgramIsLoaded) {
  ASSERT_NE(openssl::LoadOpenSsl(), nullptr);
  const fs::path here = FolderOf(nullptr);
  if (fs::exists(here / kSsl3)) {
    // OpenSSL 3 next to the module holding the loader comes first.
    EXPECT_TRUE(LoadedFrom(kCrypto3, here));
    EXPECT_TRUE(LoadedFrom(kSsl3, here));
    EXPECT_EQ(GetModuleHandleW(L"libeay32.dll"), nullptr);
    RecordProperty("openssl", "3");
  } else {
    EXPECT_TRUE(LoadedFrom(L"libeay32.dll", here));
    EXPECT_TRUE(LoadedFrom(L"ssleay32.dll", here));
    EXPECT_EQ(GetModuleHandleW(kCrypto3), nullptr);
    RecordProperty("openssl", "1.0");
  }
}

}  // namespace
}  // namespace tessora
