// Which OpenSSL the programs in bin/ get (Windows): the line placed next to them. The Windows test
// run places one line there at a time and runs the tests once per line; this makes sure each run
// tests the line it means to.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "net/openssl/binding.h"

namespace tessora {
namespace {

namespace fs = std::filesystem;

fs::path FolderOf(HMODULE module) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  return fs::path(std::wstring(path, n)).parent_path();
}

bool LoadedFrom(const wchar_t* name, const fs::path& folder) {
  HMODULE module = GetModuleHandleW(name);
  return module != nullptr && fs::equivalent(FolderOf(module), folder);
}

TEST(OpenSslInUse, TheLinePlacedNextToTheProgramIsLoaded) {
  ASSERT_NE(openssl::LoadOpenSsl(), nullptr);
  const fs::path here = FolderOf(nullptr);
  if (fs::exists(here / "libssl-3.dll")) {
    // OpenSSL 3 next to the module holding the loader comes first.
    EXPECT_TRUE(LoadedFrom(L"libcrypto-3.dll", here));
    EXPECT_TRUE(LoadedFrom(L"libssl-3.dll", here));
    EXPECT_EQ(GetModuleHandleW(L"libeay32.dll"), nullptr);
    RecordProperty("openssl", "3");
  } else {
    EXPECT_TRUE(LoadedFrom(L"libeay32.dll", here));
    EXPECT_TRUE(LoadedFrom(L"ssleay32.dll", here));
    EXPECT_EQ(GetModuleHandleW(L"libcrypto-3.dll"), nullptr);
    RecordProperty("openssl", "1.0");
  }
}

}  // namespace
}  // namespace tessora
