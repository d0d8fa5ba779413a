#include "api/thread_settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/lifecycle.h"
#include "doubles/memory_channel.h"
#include "http/client.h"
#include "http/traffic_log.h"
#include "net/tls_library.h"
#include "platform/clock.h"
#include "platform/library_entry.h"
#include "platform/locale.h"
#include "platform/thread_storage.h"
#include "support/latch.h"
#include "support/temp_dir.h"

namespace tessora {
namespace {

using test::Latch;

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

// A carrier that counts the times it is closed: a released client closes its connection.
class CountingChannel : public test::MemoryChannel {
 public:
  explicit CountingChannel(std::atomic<int>& closes) : closes_(closes) {}
  void Close() override {
    closes_.fetch_add(1);
    MemoryChannel::Close();
  }

 private:
  std::atomic<int>& closes_;
};

// A log of its own in the test's directory, and clients that record into it (releasing a client
// records "Stat Disconnected." unless it was detached from the log first) and count their closes.
class ClientLog {
 public:
  explicit ClientLog(const std::filesystem::path& file) : file_(file) {
    log_.SetFilename(file.u16string());
    log_.SetActive(true);
  }
  std::unique_ptr<HttpClient> Client() {
    auto client = std::make_unique<HttpClient>();
    client->SetChannel(std::make_unique<CountingChannel>(closes_));
    client->SetLog(&log_);
    return client;
  }
  int Closes() const { return closes_.load(); }
  std::string Records() {
    log_.SetActive(false);
    return test::ReadFileBytes(file_);
  }

 private:
  std::filesystem::path file_;
  TrafficLog log_;
  std::atomic<int> closes_{0};
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
    EXPECT_TRUE(TokenExpired(CurrentSettings()));
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
  EXPECT_FALSE(TokenExpired(CurrentSettings()));
  gNow = *EncodeDateTime({2026, 3, 1, 12, 0, 0, 1});
  EXPECT_TRUE(TokenExpired(CurrentSettings()));
  gNow = *EncodeDateTime({2026, 3, 1, 11, 59, 59, 999});
  EXPECT_FALSE(TokenExpired(CurrentSettings()));
}

// The client is released, its connection closed; the log gets nothing more once the thread that
// wrote it has ended.
TEST_F(ThreadSettingsTest, AThreadThatEndsReleasesItsClientWithoutARecord) {
  ClientLog log(dir_ / "thread.txt");
  OnNewThread([&] {
    CurrentSettings().httpClient = log.Client();
    // In the DLL the entry point reports the thread's end; this test links the code into the
    // program, so it reports it as DllMain would (a no-op where a pthread key does it).
    platform::NotifyThreadEnd();
  });
  EXPECT_GE(log.Closes(), 1);
  EXPECT_EQ(log.Records(), "");
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

// Unloaded by another thread, the loading thread's client is released (its connection closed) and
// its log closed as it stands: the log records only the loading thread's own doings.
TEST_F(ThreadSettingsTest, ShutdownOnAnotherThreadClosesTheLoadingThreadsLogWithoutARecord) {
  std::atomic<int> closes{0};
  auto client = std::make_unique<HttpClient>();
  client->SetChannel(std::make_unique<CountingChannel>(closes));
  client->SetLog(CurrentSettings().callLog.get());
  CurrentSettings().httpClient = std::move(client);
  OnNewThread([] { LibraryShutdown(); });
  EXPECT_EQ(ExistingSettings(), nullptr);
  EXPECT_GE(closes.load(), 1);
  EXPECT_EQ(test::ReadFileBytes(dir_ / "Call Logs.txt"), "");
  ASSERT_TRUE(LibraryStartup());  // for TearDown
}

// Threads that are alive when the library unloads: the settings of one that is idle are released
// (its connection closed), those of one that is inside a call are left as they are.
TEST_F(ThreadSettingsTest, ShutdownReleasesLiveThreadsButNotThoseInsideACall) {
  ClientLog idleLog(dir_ / "idle.txt");
  ClientLog busyLog(dir_ / "busy.txt");
  Latch ready(2);
  Latch shutDown(1);
  std::u16string busyClientId;
  bool busyKeptItsClient = false;
  std::thread idle([&] {
    CurrentSettings().httpClient = idleLog.Client();
    ready.CountDown();
    shutDown.Wait();
  });
  std::thread busy([&] {
    const CallScope call;  // as every export holds one while it runs
    ThreadSettings& mine = CurrentSettings();
    mine.clientId = u"busy";
    mine.httpClient = busyLog.Client();
    ready.CountDown();
    shutDown.Wait();
    busyClientId = mine.clientId;
    busyKeptItsClient = mine.httpClient != nullptr;
  });
  ready.Wait();
  LibraryShutdown();
  shutDown.CountDown();
  idle.join();
  busy.join();
  EXPECT_EQ(busyClientId, u"busy");
  EXPECT_TRUE(busyKeptItsClient);
  // The busy thread's call is over: the next unload releases what it left.
  ASSERT_TRUE(LibraryStartup());
  LibraryShutdown();
  // Released, connections closed; another thread's release writes nothing to a log.
  EXPECT_GE(idleLog.Closes(), 1);
  EXPECT_GE(busyLog.Closes(), 1);
  EXPECT_EQ(idleLog.Records(), "");
  EXPECT_EQ(busyLog.Records(), "");
  ASSERT_TRUE(LibraryStartup());  // for TearDown
}

// The same without the call: the first unload releases both.
TEST_F(ThreadSettingsTest, ShutdownReleasesEveryLiveThreadOutsideACall) {
  ClientLog log(dir_ / "threads.txt");
  constexpr int kThreads = 3;
  Latch ready(kThreads);
  Latch shutDown(1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      CurrentSettings().httpClient = log.Client();
      ready.CountDown();
      shutDown.Wait();
    });
  }
  ready.Wait();
  LibraryShutdown();
  shutDown.CountDown();
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_GE(log.Closes(), kThreads);
  EXPECT_EQ(log.Records(), "");
  ASSERT_TRUE(LibraryStartup());  // for TearDown
}

// At the end of the process other threads may still be inside a call: only the ending thread's
// own client and log are released.
TEST_F(ThreadSettingsTest, ShutdownAtProcessExitReleasesOnlyTheEndingThreadsClientAndLog) {
  ClientLog otherLog(dir_ / "other.txt");
  Latch ready(1);
  Latch shutDown(1);
  bool otherKeptItsClient = false;
  std::thread other([&] {
    ThreadSettings& mine = CurrentSettings();
    mine.httpClient = otherLog.Client();
    ready.CountDown();
    shutDown.Wait();
    otherKeptItsClient = mine.httpClient != nullptr;
  });
  ready.Wait();
  auto client = std::make_unique<HttpClient>();
  client->SetLog(CurrentSettings().callLog.get());
  CurrentSettings().httpClient = std::move(client);
  LibraryShutdown(ShutdownCause::kProcessExit);
  // Connections close from here on without a word to the TLS library.
  EXPECT_TRUE(TlsLibraryLeftAlone());
  EXPECT_EQ(test::ReadFileBytes(dir_ / "Call Logs.txt"), "Stat Disconnected.\r\n");
  EXPECT_EQ(CurrentSettings().callLog, nullptr);
  shutDown.CountDown();
  other.join();
  EXPECT_TRUE(otherKeptItsClient);
}

}  // namespace
}  // namespace tessora
