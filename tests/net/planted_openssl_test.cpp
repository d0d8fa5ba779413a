// Files planted in OpenSSL's compiled-in folder are not used (Windows). Run by
// planted_openssl_files.sh, which plants them where the folder of one OpenSSL line lies for this
// process, runs a group of these tests (--gtest_filter) and removes them again:
//   - PlantedTrust: cert.pem and certs/<hash>.0 of a CA nothing trusts;
//   - PlantedConfiguration: openssl.cnf as well, which (were it read) loads a module that leaves
//     a marker file and restricts the signature algorithms so that no handshake with our RSA test
//     servers succeeds.
// The environment names the line (TESSORA_OPENSSL_LINE: 1.0 or 3), the folder of its DLLs
// (TESSORA_OPENSSL_DLLS) and, for the configuration, the marker file and a copy of the module
// (TESSORA_PLANTED_MARKER, TESSORA_PLANTED_MODULE). `--print-folder` prints the compiled-in folder
// of the line, as this process resolves it (the driver plants there).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "net/openssl/binding.h"
#include "net/openssl/names.h"
#include "net/tls_channel.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "tls_test_util.h"

namespace tessora {
namespace {

namespace fs = std::filesystem;
using test::HandshakeWith;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

bool IsOpenSsl3() {
  return Environment("TESSORA_OPENSSL_LINE") == "3";
}

// Points the loader at the line's DLLs: OpenSSL 3 as if it lay next to the library, OpenSSL 1.0
// by the DLL search (this program's own folder holds no DLLs).
const openssl::Api* LoadLine() {
  const fs::path dlls = fs::u8path(Environment("TESSORA_OPENSSL_DLLS"));
  if (IsOpenSsl3()) {
    const std::u16string folder = dlls.u16string();
    openssl::SetOwnFolder(&folder);
  } else {
    SetDllDirectoryW(dlls.wstring().c_str());
  }
  return openssl::LoadOpenSsl();
}

struct CompiledInFolders {
  std::string openSslDir;  // where openssl.cnf, cert.pem and certs\ are looked for
  std::string enginesDir;  // "" where the line does not tell
  std::string modulesDir;
};

// The folders, as the loaded DLLs tell them: OPENSSL_info for OpenSSL 3; for 1.0,
// SSLeay_version(SSLEAY_DIR), which reads 'OPENSSLDIR: "<folder>"'.
CompiledInFolders FoldersOfLoadedLine() {
  CompiledInFolders folders;
  if (IsOpenSsl3()) {
    HMODULE crypto =
        GetModuleHandleW(reinterpret_cast<const wchar_t*>(openssl::kOpenSsl3CryptoLibrary));
    auto info = reinterpret_cast<const char* (*)(int)>(
        reinterpret_cast<void*>(GetProcAddress(crypto, "OPENSSL_info")));
    if (info == nullptr) return folders;
    constexpr int kInfoConfigDir = 1001;   // OPENSSL_INFO_CONFIG_DIR
    constexpr int kInfoEnginesDir = 1002;  // OPENSSL_INFO_ENGINES_DIR
    constexpr int kInfoModulesDir = 1003;  // OPENSSL_INFO_MODULES_DIR
    folders.openSslDir = info(kInfoConfigDir);
    folders.enginesDir = info(kInfoEnginesDir);
    folders.modulesDir = info(kInfoModulesDir);
    return folders;
  }
  HMODULE crypto = GetModuleHandleW(L"libeay32.dll");
  auto version = reinterpret_cast<const char* (*)(int)>(
      reinterpret_cast<void*>(GetProcAddress(crypto, "SSLeay_version")));
  if (version == nullptr) return folders;
  constexpr int kSslEayDir = 5;  // SSLEAY_DIR
  std::string text = version(kSslEayDir);
  const std::string prefix = "OPENSSLDIR: \"";
  if (text.rfind(prefix, 0) == 0 && text.size() > prefix.size() && text.back() == '"') {
    folders.openSslDir = text.substr(prefix.size(), text.size() - prefix.size() - 1);
  }
  return folders;
}

// The folder as this process reaches it: a path without a drive lies on the current drive.
std::wstring Resolved(const std::string& folder) {
  const std::wstring wide(folder.begin(), folder.end());  // the folders are ASCII
  wchar_t full[MAX_PATH];
  const DWORD length = GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
  return length > 0 && length < MAX_PATH ? std::wstring(full, length) : std::wstring();
}

class Planted : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(LoadLine(), nullptr) << "the OpenSSL DLLs do not load"; }
};

using CompiledInFoldersTest = Planted;
using PlantedTrust = Planted;
using PlantedConfiguration = Planted;

TEST_F(CompiledInFoldersTest, AreWhereTheLineKeepsThem) {
  const CompiledInFolders folders = FoldersOfLoadedLine();
  std::cout << "OPENSSLDIR: " << folders.openSslDir << "\nENGINESDIR: " << folders.enginesDir
            << "\nMODULESDIR: " << folders.modulesDir << "\n";
  if (IsOpenSsl3()) {
    // Built by scripts/build-openssl3-dlls: inside a folder only administrators can write.
    EXPECT_EQ(folders.openSslDir, "C:/Program Files/Common Files/SSL");
    EXPECT_EQ(folders.enginesDir, "C:/Program Files/Common Files/SSL/lib/engines-3");
    EXPECT_EQ(folders.modulesDir, "C:/Program Files/Common Files/SSL/lib/ossl-modules");
  } else {
    // The 1.0.2n DLLs the tests use carry the Unix default: a folder on the current drive that
    // any local user may create. The other tests show that the library reads nothing there.
    EXPECT_EQ(folders.openSslDir, "/usr/local/ssl");
  }
}

TEST_F(PlantedTrust, CertificateOfThePlantedCaIsRefused) {
  const std::u16string failure = HandshakeWith("planted-server");
  EXPECT_NE(failure.find(u"certificate verify failed"), std::u16string::npos)
      << (failure.empty() ? "the handshake succeeded: the planted CA was trusted"
                          : test::Utf8(failure));
}

TEST_F(PlantedTrust, CaNamedBySslCertFileIsTrusted) {
  EXPECT_EQ(HandshakeWith("server"), u"");
}

TEST_F(PlantedConfiguration, ModuleLeavesItsMarkerWhenLoaded) {
  // The control: the module does what the other test looks for, when it is loaded (a copy).
  test::TempDir dir;
  const fs::path module = dir / "planted-module.dll";
  fs::copy_file(fs::u8path(Environment("TESSORA_PLANTED_MODULE")), module);
  HMODULE loaded = LoadLibraryW(module.wstring().c_str());
  ASSERT_NE(loaded, nullptr);
  FreeLibrary(loaded);
  EXPECT_TRUE(fs::exists(dir / "planted-module-loaded"));
}

TEST_F(PlantedConfiguration, IsNotRead) {
  // Were the file read, its signature algorithms would fail this handshake (and every other one
  // with an RSA server), and its module would have left the marker.
  EXPECT_EQ(HandshakeWith("server"), u"");
  const std::string marker = Environment("TESSORA_PLANTED_MARKER");
  ASSERT_FALSE(marker.empty());
  EXPECT_FALSE(fs::exists(fs::u8path(marker)))
      << "the module named by the planted openssl.cnf was loaded: " << marker;
  EXPECT_NE(HandshakeWith("planted-server").find(u"certificate verify failed"),
            std::u16string::npos);
}

}  // namespace
}  // namespace tessora

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--print-folder") == 0) {
    if (tessora::LoadLine() == nullptr) {
      std::cerr << "the OpenSSL DLLs do not load\n";
      return 1;
    }
    const std::wstring folder = tessora::Resolved(tessora::FoldersOfLoadedLine().openSslDir);
    if (folder.empty()) {
      std::cerr << "the DLLs tell no folder\n";
      return 1;
    }
    std::cout << std::string(folder.begin(), folder.end()) << "\n";  // ASCII, as it came
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
