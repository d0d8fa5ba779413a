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

double g_now = 0;
TDateTime FixedClock() {
  return g_now;
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
  CurrentSettings().ClientID = u"loader";
  OnNewThread([] {
    const ThreadSettings& s = CurrentSettings();
    EXPECT_EQ(s.ClientID, u"");
    EXPECT_EQ(s.ClientSecret, u"");
    EXPECT_EQ(s.Environment, u"");
    EXPECT_EQ(s.ConfigFileName, u"");
    EXPECT_EQ(s.AccessToken, u"");
    EXPECT_EQ(s.TokenType, u"");
    EXPECT_EQ(s.PartnerToken, u"");
    EXPECT_EQ(s.ProxyServer, u"");
    EXPECT_EQ(s.ProxyUserName, u"");
    EXPECT_EQ(s.ProxyPassword, u"");
    EXPECT_EQ(s.ProxyPort, 0);
    EXPECT_EQ(s.TokenExpiration, 0.0);
    EXPECT_EQ(s.HttpClient, nullptr);
    EXPECT_EQ(s.CallLog, nullptr);
    EXPECT_TRUE(TokenExpired());
  });
  EXPECT_EQ(CurrentSettings().ClientID, u"loader");
}

TEST_F(ThreadSettingsTest, OnlyTheLoadingThreadHasTheLog) {
  EXPECT_NE(CurrentSettings().CallLog, nullptr);
  OnNewThread([] { EXPECT_EQ(CurrentSettings().CallLog, nullptr); });
}

TEST_F(ThreadSettingsTest, ThreadsKeepTheirOwnValues) {
  std::u16string seen;
  OnNewThread([&] {
    CurrentSettings().ClientID = u"first";
    OnNewThread([&] { seen = CurrentSettings().ClientID; });
  });
  EXPECT_EQ(seen, u"");
  EXPECT_EQ(CurrentSettings().ClientID, u"");
}

TEST_F(ThreadSettingsTest, TokenExpiredComparesStrictly) {
  platform::SetTestClock(&FixedClock);
  g_now = *EncodeDateTime({2026, 3, 1, 12, 0, 0, 0});
  CurrentSettings().TokenExpiration = g_now;
  EXPECT_FALSE(TokenExpired());
  g_now = *EncodeDateTime({2026, 3, 1, 12, 0, 0, 1});
  EXPECT_TRUE(TokenExpired());
  g_now = *EncodeDateTime({2026, 3, 1, 11, 59, 59, 999});
  EXPECT_FALSE(TokenExpired());
}

TEST_F(ThreadSettingsTest, AThreadThatEndsReleasesItsClient) {
  TTrafficLog log;
  log.SetFilename((dir_ / "thread.txt").u16string());
  log.SetActive(true);
  OnNewThread([&] {
    auto client = std::make_unique<THttpClient>();
    client->SetTrafficLog(&log);
    CurrentSettings().HttpClient = std::move(client);
    // In the DLL the entry point reports the thread's end; this test links the code into the
    // program, so it reports it as DllMain would (a no-op where a pthread key does it).
    platform::NotifyThreadEnd();
  });
  log.SetActive(false);
  EXPECT_EQ(test::ReadFileBytes(dir_ / "thread.txt"), "Stat Disconnected.\r\n");
}

TEST_F(ThreadSettingsTest, ShutdownReleasesTheClientBeforeTheLog) {
  auto client = std::make_unique<THttpClient>();
  client->SetTrafficLog(CurrentSettings().CallLog.get());
  CurrentSettings().HttpClient = std::move(client);
  LibraryShutdown();
  EXPECT_EQ(ExistingSettings(), nullptr);
  EXPECT_EQ(test::ReadFileBytes(dir_ / "Call Logs.txt"), "Stat Disconnected.\r\n");
  ASSERT_TRUE(LibraryStartup());  // for TearDown
}

}  // namespace
}  // namespace tessora
