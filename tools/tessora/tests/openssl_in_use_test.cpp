#include "openssl_in_use.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include "host_loader.h"

namespace tessora::cli {
namespace {

TEST(OpenSslInUse, DescribedByFilesAndVersion) {
  const OpenSslInUse openssl{"libssl-3.dll + libcrypto-3.dll from C:\\app",
                             "OpenSSL 3.0.20 1 Jul 2025", 0x30000140UL};
  EXPECT_EQ(DescribeOpenSsl(openssl),
            "libssl-3.dll + libcrypto-3.dll from C:\\app: OpenSSL 3.0.20 1 Jul 2025");
  EXPECT_EQ(OpenSslWarning(openssl), "");
}

TEST(OpenSslInUse, TheOneZeroLineIsWarnedAbout) {
  const OpenSslInUse openssl{"ssleay32.dll + libeay32.dll from C:\\app",
                             "OpenSSL 1.0.2n  7 Dec 2017", 0x100020efUL};
  EXPECT_EQ(OpenSslWarning(openssl),
            "warning: OpenSSL 1.0.2n  7 Dec 2017 no longer receives security fixes; put " +
                OpenSsl3Files() + " (OpenSSL 3) next to the TessoraNet library");
  EXPECT_EQ(OpenSslWarning({"x", "", 0x009080ffUL}).rfind("warning: this OpenSSL no longer", 0),
            0u);
  EXPECT_EQ(OpenSslWarning({"x", "", 0}), "");  // no number: nothing to say
}

#if defined(_WIN32)
// The test program's folder holds one OpenSSL line (the Windows test run places one at a time).
// (The 64-bit OpenSSL 3 DLLs carry "-x64" in their names.)
TEST(OpenSslInUse, FindsTheLoadedPairAndItsVersion) {
  const bool x64 = sizeof(void*) == 8;
  const bool three = LoadLibraryW(x64 ? L"libcrypto-3-x64.dll" : L"libcrypto-3.dll") != nullptr;
  ASSERT_TRUE(three || LoadLibraryW(L"libeay32.dll") != nullptr);
  ASSERT_NE(LoadLibraryW(three ? (x64 ? L"libssl-3-x64.dll" : L"libssl-3.dll") : L"ssleay32.dll"),
            nullptr);
  const std::optional<OpenSslInUse> openssl = FindOpenSslInUse();
  ASSERT_TRUE(openssl.has_value());
  const std::string pair3 =
      x64 ? "libssl-3-x64.dll + libcrypto-3-x64.dll from " : "libssl-3.dll + libcrypto-3.dll from ";
  EXPECT_EQ(openssl->files.rfind(three ? pair3 : "ssleay32.dll + libeay32.dll from ", 0), 0u)
      << openssl->files;
  EXPECT_EQ(openssl->version.rfind(three ? "OpenSSL 3." : "OpenSSL 1.0.", 0), 0u)
      << openssl->version;
  EXPECT_EQ(OpenSslWarning(*openssl).empty(), three);
}
#else
// The Linux library links the system OpenSSL 3.
TEST(OpenSslInUse, FindsTheOpenSslTheLibraryLinks) {
  const host::Library library(host::LibraryNextToProgram());
  ASSERT_TRUE(library.Loaded()) << library.Error();
  const std::optional<OpenSslInUse> openssl = FindOpenSslInUse();
  ASSERT_TRUE(openssl.has_value());
  EXPECT_EQ(openssl->files.rfind("libssl.so.3 + libcrypto.so.3 from /", 0), 0u) << openssl->files;
  EXPECT_EQ(openssl->version.rfind("OpenSSL 3.", 0), 0u) << openssl->version;
  EXPECT_GE(openssl->number, 0x30000000UL);
  EXPECT_EQ(OpenSslWarning(*openssl), "");
}
#endif

}  // namespace
}  // namespace tessora::cli
