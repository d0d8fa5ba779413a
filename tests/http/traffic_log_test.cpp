#include "http/traffic_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/time_stamp_formats.h"

#include "base/error.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/locale.h"
#include "support/temp_dir.h"

namespace tessora {
namespace {

using test::ReadFileBytes;
using test::ScopedCurrentDir;
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

// Every line of a log file is a whole record: it starts as records do and ends with CR LF.
void ExpectWholeRecords(const std::string& contents) {
  ASSERT_FALSE(contents.empty());
  ASSERT_EQ(contents.substr(contents.size() - 2), "\r\n");
  std::size_t at = 0;
  while (at < contents.size()) {
    const std::size_t end = contents.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    const std::string prefix = contents.substr(at, 5);
    EXPECT_TRUE(prefix == "Sent " || prefix == "Recv " || prefix == "Stat ") << prefix;
    at = end + 2;
  }
}

TEST_F(TrafficLogTest, AFullLogStartsANewFileAndKeepsOneOlder) {
  log_.SetMaxBytes(300);
  for (int i = 0; i < 40; ++i) {
    log_.Send("GET /api/" + std::to_string(i) + " HTTP/1.1\r\nHost: x\r\n\r\n");
    log_.LogStatus(u"Disconnected.");
  }
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
    ++files;
  EXPECT_EQ(files, 2);
  const std::string current = Contents();
  const std::string older = ReadFileBytes(dir_ / "Call Logs.txt.1");
  EXPECT_LE(current.size(), 300u);
  EXPECT_LE(older.size(), 300u);
  ExpectWholeRecords(current);
  ExpectWholeRecords(older);
  // The last record is in the current file, the one before the current file's first in the older.
  EXPECT_NE(current.find("GET /api/39 "), std::string::npos);
  EXPECT_EQ(older.find("GET /api/39 "), std::string::npos);
}

TEST_F(TrafficLogTest, ARecordLargerThanTheLimitGoesWholeIntoAFileOfItsOwn) {
  log_.SetMaxBytes(50);
  log_.LogStatus(u"Connected.");
  log_.Send(std::string(200, 'a'));
  log_.LogStatus(u"Disconnected.");
  EXPECT_EQ(Contents(), "Stat Disconnected.\r\n");
  const std::string older = ReadFileBytes(dir_ / "Call Logs.txt.1");
  EXPECT_EQ(older, "Sent 08/12/2025 10:35:12: " + std::string(200, 'a') + "\r\n");
}

// A log opened by a relative name starts its new file where it was opened, whatever the current
// directory has become since.
TEST(TrafficLogPlaceTest, AFullLogStartsItsNewFileWhereItWasOpened) {
  TempDir opened;
  TempDir later;
  TrafficLog log;
  {
    const ScopedCurrentDir cwd(opened.Path());
    log.SetFilename(u"Call Logs.txt");
    log.SetActive(true);
  }
  const ScopedCurrentDir cwd(later.Path());
  log.SetMaxBytes(50);
  log.LogStatus(u"Connected.");
  log.LogStatus(u"Connected.");
  log.LogStatus(u"Connected.");
  log.LogStatus(u"Disconnected.");
  log.SetActive(false);
  EXPECT_EQ(ReadFileBytes(opened.Path() / "Call Logs.txt"),
            "Stat Connected.\r\nStat Disconnected.\r\n");
  EXPECT_EQ(ReadFileBytes(opened.Path() / "Call Logs.txt.1"),
            "Stat Connected.\r\nStat Connected.\r\n");
  EXPECT_TRUE(std::filesystem::is_empty(later.Path()));
}

TEST_F(TrafficLogTest, WithoutALimitTheLogGrows) {
  for (int i = 0; i < 40; ++i)
    log_.LogStatus(u"Connected.");
  EXPECT_EQ(Contents().size(), 40u * 17u);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Call Logs.txt.1"));
}

}  // namespace
}  // namespace tessora
