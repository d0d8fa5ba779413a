#include "api/lifecycle.h"

#include <gtest/gtest.h>

#include "api/thread_settings.h"
#include "base/fault_injection.h"
#include "http/traffic_log.h"
#include "platform/library_entry.h"
#include "support/temp_dir.h"

namespace tessora {
namespace {

class LifecycleTest : public ::testing::Test {
 protected:
  void TearDown() override {
    platform::ClearFaults();
    LibraryShutdown();
  }
  test::TempDir dir_;
  test::ScopedCurrentDir cwd_{dir_.Path()};
};

TEST_F(LifecycleTest, StartUpOpensTheLogInTheCurrentDirectory) {
  ASSERT_TRUE(LibraryStartup());
  ASSERT_NE(CurrentSettings().callLog, nullptr);
  EXPECT_TRUE(CurrentSettings().callLog->Active());
  EXPECT_EQ(CurrentSettings().callLog->Filename(), u"Call Logs.txt");
  EXPECT_TRUE(std::filesystem::exists(dir_ / "Call Logs.txt"));
}

// A log that cannot be created or opened leaves a working library without a log.
TEST_F(LifecycleTest, StartsWithoutALogWhenTheFileCannotBeCreated) {
  platform::InjectFault(platform::Fault::kFileCreate, 13);
  ASSERT_TRUE(LibraryStartup());
  EXPECT_EQ(CurrentSettings().callLog, nullptr);
}

TEST_F(LifecycleTest, StartsWithoutALogWhenTheFileCannotBeOpened) {
  test::WriteFileBytes(dir_ / "Call Logs.txt", "earlier\r\n");
  platform::InjectFault(platform::Fault::kFileOpen, 32);
  ASSERT_TRUE(LibraryStartup());
  EXPECT_EQ(CurrentSettings().callLog, nullptr);
  EXPECT_EQ(test::ReadFileBytes(dir_ / "Call Logs.txt"), "earlier\r\n");
}

}  // namespace
}  // namespace tessora
