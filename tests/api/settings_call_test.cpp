// Settings at work in real calls against loopback servers: the time-outs, and the endpoint file's
// "SETTINGS".
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "api/service.h"
#include "api/settings.h"
#include "api/thread_settings.h"
#include "base/error.h"
#include "base/fault_injection.h"
#include "base/text.h"
#include "catalogue/catalogue.h"
#include "platform/clock.h"
#include "platform/library_entry.h"
#include "platform/socket.h"
#include "support/scripted_api.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace tessora {
namespace {

constexpr char kEndpoints[] = R"({"ENDPOINTS": {
  "CHARGE_DETAIL": {"route": "/v1/charges/:id", "method": "GET"}
}})";

// A clock that moves 100 ms on every reading, so that a deadline passes after a known number of
// readings whatever the real time.
std::atomic<std::int64_t> gReadings{0};
DateTime SteppingClock() {
  const std::int64_t reading = gReadings.fetch_add(1);
  return 46000.0 + static_cast<double>(reading) * 100.0 / 86400000.0;
}

class SettingsCallTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LibraryStartup()); }
  void TearDown() override {
    platform::SetTestClock(nullptr);
    LibraryShutdown();
  }

  void Configure(int port, const std::string& endpoints = kEndpoints) {
    test::WriteFileBytes(dir_ / "endpoints.json", endpoints);
    ThreadSettings& settings = CurrentSettings();
    settings.environment = u"127.0.0.1:" + IntToText(port) + u"/";
    settings.configFileName = u"endpoints.json";
  }
  void Set(const char16_t* name, const char16_t* value) {
    ASSERT_EQ(SetOption(CurrentSettings(), name, value), u"");
  }
  std::u16string Call() {
    CallService(CurrentSettings(), u"CHARGE_DETAIL", u"id=1", u"", u"");
    return CurrentSettings().lastReason;
  }

  test::TempDir dir_;
  test::ScopedCurrentDir cwd_{dir_.Path()};
};

// Answers with a body announced as 100000 bytes and sent one byte at a time: every receive makes
// progress, so only the call's deadline can end it.
void Trickle(test::ServerConnection& connection) {
  connection.ReadHead();
  if (!connection.Write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n")) return;
  for (int i = 0; i < 100000; ++i) {
    if (!connection.Write("x")) return;
    connection.Hang(5);
  }
}

TEST_F(SettingsCallTest, TheCallDeadlineEndsATricklingAnswer) {
  test::ScriptedServer server(test::ScriptedServer::kTls, &Trickle);
  Configure(server.Port());
  Set(u"timeout.call-ms", u"3000");
  gReadings = 0;
  platform::SetTestClock(&SteppingClock);
  EXPECT_EQ(Call(), u"No answer from 127.0.0.1:" + IntToText(server.Port()) +
                        u": the call exceeded its 3000 ms.");
  EXPECT_EQ(CurrentSettings().lastStatus, 200);
}

TEST_F(SettingsCallTest, WithoutADeadlineTheAnswerIsReadWhole) {
  test::ScriptedApi api({test::JsonReply("200 OK", R"({"id":1})")});
  Configure(api.Port());
  platform::SetTestClock(&SteppingClock);
  EXPECT_EQ(CallService(CurrentSettings(), u"CHARGE_DETAIL", u"id=1", u"", u""), u"{\"id\":1}");
  EXPECT_EQ(CurrentSettings().lastReason, u"");
}

TEST_F(SettingsCallTest, TheDeadlineBoundsTheConnect) {
  Configure(9);
  Set(u"timeout.call-ms", u"300");
  gReadings = 0;
  platform::SetTestClock(&SteppingClock);
  platform::InjectFault(platform::Fault::kConnect, platform::kHangingConnect);
  EXPECT_EQ(Call(), u"No answer from 127.0.0.1:9: the call exceeded its 300 ms.");
}

TEST_F(SettingsCallTest, TheConnectTimeOutIsTheThreads) {
  Configure(9);
  Set(u"timeout.connect-ms", u"50");
  platform::InjectFault(platform::Fault::kConnect, platform::kHangingConnect);
  EXPECT_EQ(Call(), u"Connecting to 127.0.0.1:9 failed: Connect timed out.");
}

TEST_F(SettingsCallTest, TheReceiveTimeOutIsTheThreads) {
  test::ScriptedServer server(test::ScriptedServer::kTls, [](test::ServerConnection& connection) {
    connection.ReadHead();
    connection.Hang(5000);
  });
  Configure(server.Port());
  Set(u"timeout.io-ms", u"100");
  EXPECT_EQ(Call(), u"Read timed out.");
}

TEST_F(SettingsCallTest, TheEndpointFilesSettingsApplyFromItsFirstRead) {
  test::ScriptedApi api({test::JsonReply("200 OK", "{}")});
  Configure(api.Port(), R"({"SETTINGS": {"timeout.connect-ms": 1500, "timeout.io-ms": "2500",
    "no.such-key": "x", "timeout.call-ms": "soon"},
    "ENDPOINTS": {"CHARGE_DETAIL": {"route": "/v1/charges/:id", "method": "GET"}}})");
  Call();
  const ThreadSettings& settings = CurrentSettings();
  const SettingValue connect = OptionInForce(&settings, *FindSettingKey(u"timeout.connect-ms"));
  EXPECT_EQ(connect.value, u"1500");
  EXPECT_EQ(connect.source, SettingSource::kEndpointFile);
  EXPECT_EQ(CurrentCallOptions(settings).ioTimeoutMs, 2500);
  EXPECT_EQ(CurrentCallOptions(settings).callTimeoutMs, 0);  // "soon" is left out
}

TEST_F(SettingsCallTest, SettingsThatAreNotAnObjectLeaveTheOperationsWorking) {
  test::ScriptedApi api({test::JsonReply("200 OK", "{}")});
  Configure(api.Port(), R"({"SETTINGS": [1, 2],
    "ENDPOINTS": {"CHARGE_DETAIL": {"route": "/v1/charges/:id", "method": "GET"}}})");
  EXPECT_EQ(Call(), u"");
  EXPECT_EQ(CurrentSettings().lastStatus, 200);
}

}  // namespace
}  // namespace tessora
