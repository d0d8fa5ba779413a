#include "http/traffic_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/time_stamp_formats.h"

#include "base/error.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/locale.h"
#include "support/temp_dir.h"

namespace tessora {
namespace {

using test::ReadFileBytes;
using test::TempDir;

double gNow = 0;
DateTime FixedClock() {
  return gNow;
}

class TrafficLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UseDayMonthYearTimeStamps();
    gNow = *EncodeDateTime({2025, 12, 8, 10, 35, 12, 0});
    platform::SetTestClock(&FixedClock);
    log_.SetFilename((dir_ / "Call Logs.txt").u16string());
    log_.SetActive(true);
  }
  void TearDown() override { platform::SetTestClock(nullptr); }

  std::string Contents() { return ReadFileBytes(dir_ / "Call Logs.txt"); }

  TempDir dir_;
  TrafficLog log_;
};

TEST_F(TrafficLogTest, WritesOneLinePerRecord) {
  log_.Connect();
  log_.Send("GET /api HTTP/1.1\r\nHost: x\r\n\r\n");
  log_.Receive("HTTP/1.1 200 OK\r\n");
  log_.Disconnect();
  EXPECT_EQ(Contents(),
            "Stat Connected.\r\n"
            "Sent 08/12/2025 10:35:12: GET /api HTTP/1.1<EOL>Host: x<EOL><EOL>\r\n"
            "Recv 08/12/2025 10:35:12: HTTP/1.1 200 OK<EOL>\r\n"
            "Stat Disconnected.\r\n");
}

TEST_F(TrafficLogTest, LeavesTheTimeOutAtMidnight) {
  gNow = *EncodeDateTime({2025, 12, 8, 0, 0, 0, 0});
  log_.Send("x");
  gNow = *EncodeDateTime({2025, 12, 8, 0, 0, 0, 1});
  log_.Send("y");
  EXPECT_EQ(Contents(), "Sent 08/12/2025: x\r\nSent 08/12/2025 00:00:00: y\r\n");
}

TEST_F(TrafficLogTest, WritesDataBytesUnchanged) {
  using namespace std::string_literals;
  log_.Receive("{\"a\":\"\xC3\xA9\"}\0z"s);
  EXPECT_EQ(Contents(), "Recv 08/12/2025 10:35:12: {\"a\":\"\xC3\xA9\"}\0z\r\n"s);
}

struct RenderCase {
  std::string data;
  std::string rendered;
};

class LineBreakRendering : public TrafficLogTest,
                           public ::testing::WithParamInterface<RenderCase> {};

// In three passes: every CR LF, then every remaining CR, then every remaining LF.
TEST_P(LineBreakRendering, RendersInThreePasses) {
  log_.Send(GetParam().data);
  EXPECT_EQ(Contents(), "Sent 08/12/2025 10:35:12: " + GetParam().rendered + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineBreakRendering,
    ::testing::Values(RenderCase{"a\r\nb", "a<EOL>b"}, RenderCase{"\r\r\n", "<CR><EOL>"},
                      RenderCase{"\n\r", "<LF><CR>"}, RenderCase{"\r\n\r\n", "<EOL><EOL>"},
                      RenderCase{"\n\r\n", "<LF><EOL>"}, RenderCase{"x", "x"},
                      RenderCase{std::string("\0\r", 2), std::string("\0<CR>", 5)}));

// Every byte but CR and LF reaches the record as it is, received or sent alike.
TEST_F(TrafficLogTest, EveryOtherByteIsWrittenAsItIs) {
  std::string bytes;
  for (int b = 0; b < 256; ++b) {
    if (b != '\r' && b != '\n') bytes += static_cast<char>(b);
  }
  log_.Receive(bytes);
  log_.Send(bytes);
  EXPECT_EQ(Contents(), "Recv 08/12/2025 10:35:12: " + bytes +
                            "\r\nSent 08/12/2025 10:35:12: " + bytes + "\r\n");
}

TEST_F(TrafficLogTest, WritesCharactersBeyondOneByteAsQuestionMarks) {
  log_.LogStatus(u"\u00E9\u4E2D");
  EXPECT_EQ(Contents(), "Stat \xE9?\r\n");
}

TEST_F(TrafficLogTest, OptionsChangeTheRecords) {
  log_.SetLogTime(false);
  log_.SetReplaceCrlf(false);
  log_.Send("a\r\n");
  EXPECT_EQ(Contents(), "Sent : a\r\n\r\n");
}

TEST_F(TrafficLogTest, AppendsToWhatEarlierRunsWrote) {
  log_.LogStatus(u"Connected.");
  log_.SetActive(false);
  TrafficLog second;
  second.SetFilename(log_.Filename());
  second.SetActive(true);
  second.Disconnect();
  EXPECT_EQ(Contents(), "Stat Connected.\r\nStat Disconnected.\r\n");
}

TEST_F(TrafficLogTest, AClosedLogWritesNothing) {
  log_.SetActive(false);
  log_.Connect();
  log_.Send("x");
  EXPECT_EQ(Contents(), "");
}

TEST_F(TrafficLogTest, TheFilenameIsFixedWhileTheFileIsOpen) {
  try {
    log_.SetFilename(u"other.txt");
    FAIL() << "no failure";
  } catch (const Error& error) {
    EXPECT_EQ(error.Message(), u"Unable to set Filename while log file is open.");
  }
  log_.SetActive(false);
  log_.SetFilename(u"other.txt");
  EXPECT_EQ(log_.Filename(), u"other.txt");
}

TEST_F(TrafficLogTest, SecondLogOnTheSameFileIsRefused) {
  TrafficLog second;
  second.SetFilename(log_.Filename());
  try {
    second.SetActive(true);
    FAIL() << "no failure";
  } catch (const Error& error) {
    EXPECT_EQ(error.Kind(), ErrorKind::kFileOpen);
  }
  EXPECT_FALSE(second.Active());
}

}  // namespace
}  // namespace tessora
