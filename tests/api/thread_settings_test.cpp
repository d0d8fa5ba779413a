#include "api/thread_settings.h"

#include <gtest/gtest.h>

#include <thread>

#include "api/lifecycle.h"
#include "http/client.h"
#include "http/traffic_log.h"
#include "platform/clock.h"
#include "platform/library_entry.h"
#include "platform/locale.h"
#include "platform/thread_storage.h"
#include "support/temp_dir.h"

namespace tessora {
namespace {

double gNow = 0;
DateTime FixedClock() {
  return gNow;
}

// Runs the library's start-up in a temporary current directory, as a load would.
class ThreadSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LibraryStartup()); }
  void TearDown() override {
    LibraryShutdown();
    platform::SetTestClock(nullptr);
  }
  test::TempDir dir_;
  test::ScopedCurrentDir cwd_{dir_.Path()};
};

template <class Body>
void OnNewThread(Body body) {
  std::thread thread(body);
  thread.join();
}

TEST_F(ThreadSettingsTest, ANewThreadStartsFromTheInitialValues) {
  CurrentSettings().clientId = u"loader";
  OnNewThread([] {
    const ThreadSettings& s = CurrentSettings();
    EXPECT_EQ(s.clientId, u"");
    EXPECT_EQ(s.clientSecret, u"");
    EXPECT_EQ(s.environment, u"");
    EXPECT_EQ(s.configFileName, u"");
    EXPECT_EQ(s.accessToken, u"");
    EXPECT_EQ(s.tokenType, u"");
    EXPECT_EQ(s.partnerToken, u"");
    EXPECT_EQ(s.proxyServer, u"");
    EXPECT_EQ(s.proxyUserName, u"");
    EXPECT_EQ(s.proxyPassword, u"");
    EXPECT_EQ(s.proxyPort, 0);
    EXPECT_EQ(s.tokenExpiration, 0.0);
    EXPECT_EQ(s.httpClient, nullptr);
    EXPECT_EQ(s.callLog, nullptr);
    EXPECT_TRUE(TokenExpired());
  });
  EXPECT_EQ(CurrentSettings().clientId, u"loader");
}

TEST_F(ThreadSettingsTest, OnlyTheLoadingThreadHasTheLog) {
  EXPECT_NE(CurrentSettings().callLog, nullptr);
  OnNewThread([] { EXPECT_EQ(CurrentSettings().callLog, nullptr); });
}

TEST_F(ThreadSettingsTest, ThreadsKeepTheirOwnValues) {
  std::u16string seen;
  OnNewThread([&] {
    CurrentSettings().clientId = u"first";
    OnNewThread([&] { seen = CurrentSettings().clientId; });
  });
  EXPECT_EQ(seen, u"");
  EXPECT_EQ(CurrentSettings().clientId, u"");
}

TEST_F(ThreadSettingsTest, TokenExpiredComparesStrictly) {
  platform::SetTestClock(&FixedClock);
  gNow = *EncodeDateTime({2026, 3, 1, 12, 0, 0, 0});
  CurrentSettings().tokenExpiration = gNow;
  EXPECT_FALSE(TokenExpired());
  gNow = *EncodeDateTime({2026, 3, 1, 12, 0, 0, 1});
  EXPECT_TRUE(TokenExpired());
  gNow = *EncodeDateTime({2026, 3, 1, 11, 59, 59, 999});
  EXPECT_FALSE(TokenExpired());
}

TEST_F(ThreadSettingsTest, AThreadThatEndsReleasesItsClient) {
  TrafficLog log;
  log.SetFilename((dir_ / "thread.txt").u16string());
  log.SetActive(true);
  OnNewThread([&] {
    auto client = std::make_unique<HttpClient>();
    client->SetLog(&log);
    CurrentSettings().httpClient = std::move(client);
    // In the DLL the entry point reports the thread's end; this test links the code into the
    // program, so it reports it as DllMain would (a no-op where a pthread key does it).
    platform::NotifyThreadEnd();
  });
  log.SetActive(false);
  EXPECT_EQ(test::ReadFileBytes(dir_ / "thread.txt"), "Stat Disconnected.\r\n");
}

TEST_F(ThreadSettingsTest, ShutdownReleasesTheClientBeforeTheLog) {
  auto client = std::make_unique<HttpClient>();
  client->SetLog(CurrentSettings().callLog.get());
  CurrentSettings().httpClient = std::move(client);
  LibraryShutdown();
  EXPECT_EQ(ExistingSettings(), nullptr);
  EXPECT_EQ(test::ReadFileBytes(dir_ / "Call Logs.txt"), "Stat Disconnected.\r\n");
  ASSERT_TRUE(LibraryStartup());  // for TearDown
}

}  // namespace
}  // namespace tessora
