// The exports as a host sees them: the library loaded at run time from its file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "support/file_hold.h"
#include "support/host_library.h"
#include "support/temp_dir.h"

namespace tessora {
namespace {

using test::HostLibrary;
using test::ReadFileBytes;

// Each test loads the library with a fresh current directory, where it keeps "Call Logs.txt".
class ExportsTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  test::ScopedCurrentDir cwd_{dir_.Path()};
};

TEST_F(ExportsTest, LoadingCreatesTheLogInTheCurrentDirectory) {
  HostLibrary library;
  ASSERT_TRUE(library.Loaded());
  EXPECT_TRUE(std::filesystem::exists(dir_ / "Call Logs.txt"));
}

TEST_F(ExportsTest, LoadingKeepsAnExistingLog) {
  test::WriteFileBytes(dir_ / "Call Logs.txt", "Stat Connected.\r\n");
  {
    HostLibrary library;
    ASSERT_TRUE(library.Loaded());
  }
  EXPECT_EQ(ReadFileBytes(dir_ / "Call Logs.txt"), "Stat Connected.\r\n");
}

TEST_F(ExportsTest, TheLibraryLoadsWhenTheLogCannotBeOpened) {
  std::filesystem::create_directory(dir_ / "Call Logs.txt");  // a directory cannot be the log
  HostLibrary library;
  ASSERT_TRUE(library.Loaded());
  EXPECT_EQ(library.tessoraNetTokenExpired(), 1);
}

TEST_F(ExportsTest, TheLibraryLoadsWhileAnotherProcessHoldsTheLog) {
  test::WriteFileBytes(dir_ / "Call Logs.txt", "earlier\r\n");
  {
    test::FileHold hold(dir_ / "Call Logs.txt");
    ASSERT_TRUE(hold.Held());
    HostLibrary library;
    ASSERT_TRUE(library.Loaded());
    library.configureService("id", "secret", "", "", "");
    EXPECT_EQ(library.tessoraNetTokenExpired(), 1);
  }
  EXPECT_EQ(ReadFileBytes(dir_ / "Call Logs.txt"), "earlier\r\n");
}

TEST_F(ExportsTest, GetInstanceDataIgnoresANullPointer) {
  HostLibrary library;
  ASSERT_TRUE(library.Loaded());
  // It used to write through the null pointer and crash the host.
  library.tessoraNetGetInstanceData(nullptr);
  EXPECT_EQ(library.tessoraNetTokenExpired() & 0xFF, 1);
}

TEST_F(ExportsTest, ATokenlessThreadGetsEmptyBuffersAndAnExpiredToken) {
  HostLibrary library;
  ASSERT_TRUE(library.Loaded());
  char* first = nullptr;
  char* second = nullptr;
  library.tessoraNetGetInstanceData(&first);
  library.tessoraNetGetInstanceData(&second);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_STREQ(first, "");
  EXPECT_STREQ(second, "");
  EXPECT_EQ(library.tessoraNetTokenExpired() & 0xFF, 1);
  test::FreeResultBuffer(first);
  test::FreeResultBuffer(second);
}

TEST_F(ExportsTest, NullTextArgumentsAreAccepted) {
  HostLibrary library;
  ASSERT_TRUE(library.Loaded());
  library.configureService(nullptr, nullptr, nullptr, nullptr, nullptr);
  library.configureProxy(nullptr, -1, nullptr, nullptr);
  library.configureService("id", "secret", "sandbox.", "endpoints.json", "");
  library.configureProxy("proxy", 65536, "user", "password");
  EXPECT_EQ(library.tessoraNetTokenExpired(), 1);
}

TEST_F(ExportsTest, OtherThreadsStartEmpty) {
  HostLibrary library;
  ASSERT_TRUE(library.Loaded());
  library.configureService("id", "secret", "env.", "endpoints.json", "partner");
  std::thread other([&] {
    char* token = nullptr;
    library.tessoraNetGetInstanceData(&token);
    EXPECT_STREQ(token, "");
    EXPECT_EQ(library.tessoraNetTokenExpired(), 1);
    test::FreeResultBuffer(token);
  });
  other.join();
}

TEST_F(ExportsTest, TheLibraryCanBeLoadedAgainAfterUnloading) {
  for (int round = 0; round < 3; ++round) {
    HostLibrary library;
    ASSERT_TRUE(library.Loaded());
    EXPECT_EQ(library.tessoraNetTokenExpired(), 1);
  }
}

TEST_F(ExportsTest, SetOptionStoresAValueGetOptionHandsItBack) {
  HostLibrary library;
  ASSERT_TRUE(library.Loaded());
  char* value = nullptr;
  ASSERT_EQ(library.tessoraNetGetOption("timeout.io-ms", &value), 1);
  EXPECT_STREQ(value, "30000");
  library.tessoraNetFree(value);
  EXPECT_EQ(library.tessoraNetSetOption("timeout.io-ms", "1500"), 1);
  ASSERT_EQ(library.tessoraNetGetOption("timeout.io-ms", &value), 1);
  EXPECT_STREQ(value, "1500");
  library.tessoraNetFree(value);
  EXPECT_EQ(library.LastError(), "");
}

TEST_F(ExportsTest, ARefusedSettingIsTheThreadsLastError) {
  HostLibrary library;
  ASSERT_TRUE(library.Loaded());
  EXPECT_EQ(library.tessoraNetSetOption("timeout.io-ms", "soon"), 0);
  EXPECT_EQ(library.LastError(),
            "The setting \"timeout.io-ms\" cannot be \"soon\": it takes a whole number of "
            "milliseconds from 1 to 86400000.");
  EXPECT_EQ(library.tessoraNetSetOption(nullptr, nullptr), 0);
  EXPECT_EQ(library.LastError(), "There is no setting \"\".");
  char* value = reinterpret_cast<char*>(1);
  EXPECT_EQ(library.tessoraNetGetOption("no.such-key", &value), 0);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(library.LastError(), "There is no setting \"no.such-key\".");
  EXPECT_EQ(library.tessoraNetGetOption("timeout.io-ms", nullptr), 0);
}

TEST_F(ExportsTest, AThreadSettingHoldsForItsThreadOnly) {
  HostLibrary library;
  ASSERT_TRUE(library.Loaded());
  EXPECT_EQ(library.tessoraNetSetOption("timeout.connect-ms", "700"), 1);
  std::string seen;
  std::thread other([&] {
    char* value = nullptr;
    if (library.tessoraNetGetOption("timeout.connect-ms", &value) == 1) seen = value;
    library.tessoraNetFree(value);
  });
  other.join();
  EXPECT_EQ(seen, "20000");
}

TEST_F(ExportsTest, ExportsTheFiveFunctionsAndNothingElse) {
  HostLibrary library;
  ASSERT_TRUE(library.Loaded());
  EXPECT_NE(library.configureService, nullptr);
  EXPECT_NE(library.configureProxy, nullptr);
  EXPECT_NE(library.tessoraNet, nullptr);
  EXPECT_NE(library.tessoraNetGetInstanceData, nullptr);
  EXPECT_NE(library.tessoraNetTokenExpired, nullptr);
  EXPECT_EQ(library.Symbol("LibraryStartup"), nullptr);
  EXPECT_EQ(library.Symbol("_ZN7tessora14LibraryStartupEv"), nullptr);
}

}  // namespace
}  // namespace tessora
