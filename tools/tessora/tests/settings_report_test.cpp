// The settings `tessora doctor` shows: the value in force of every key and its source, in the
// library's order, and what the library would leave out.
#include "settings_report.h"

#include <gtest/gtest.h>

#include <string>

namespace tessora::cli {
namespace {

const SettingInForce& Line(const SettingsReport& report, const std::string& name) {
  for (const SettingInForce& line : report.inForce) {
    if (line.name == name) return line;
  }
  static const SettingInForce kNone{"(none)", "", ""};
  ADD_FAILURE() << "no line for " << name;
  return kNone;
}

TEST(SettingsInForce, EveryKeyAtItsDefaultWhenNothingSetsIt) {
  const SettingsReport report = ReadSettingsInForce({}, {}, {});
  EXPECT_TRUE(report.warnings.empty());
  ASSERT_GE(report.inForce.size(), 15U);
  EXPECT_EQ(report.inForce.front().name, "timeout.connect-ms");
  for (const SettingInForce& line : report.inForce)
    EXPECT_EQ(line.source, "default") << line.name;
  EXPECT_EQ(Line(report, "timeout.io-ms").value, "30000");
  EXPECT_EQ(Line(report, "log.file").value, "Call Logs.txt");
  EXPECT_EQ(Line(report, "tls.ca-file").value, "");
}

TEST(SettingsInForce, HostBeforeEnvironmentBeforeFileBeforeDefault) {
  const SettingsReport report = ReadSettingsInForce(
      {{"timeout.io-ms", "1000"}},
      {{"TESSORANET_TIMEOUT_IO_MS", "2000"}, {"TESSORANET_TIMEOUT_CALL_MS", "3000"}},
      {{u"timeout.io-ms", u"4000"}, {u"timeout.call-ms", u"5000"}, {u"log.secrets", u"MASKED"}});
  EXPECT_TRUE(report.warnings.empty());
  EXPECT_EQ(Line(report, "timeout.io-ms").value, "1000");
  EXPECT_EQ(Line(report, "timeout.io-ms").source, "host: --set");
  EXPECT_EQ(Line(report, "timeout.call-ms").value, "3000");
  EXPECT_EQ(Line(report, "timeout.call-ms").source, "environment");
  EXPECT_EQ(Line(report, "log.secrets").value, "masked");  // the stored form
  EXPECT_EQ(Line(report, "log.secrets").source, "endpoint file");
  EXPECT_EQ(Line(report, "timeout.connect-ms").source, "default");
}

TEST(SettingsInForce, WhatTheLibraryLeavesOutIsAWarning) {
  const SettingsReport report =
      ReadSettingsInForce({{"timeout.nothing", "1"}, {"timeout.io-ms", "0"}},
                          {{"TESSORANET_LIBRARY", "/opt/lib/libTessoraNet.so"},
                           {"TESSORANET_TIMEOUT_IO", "1000"},
                           {"TESSORANET_LOG_SECRETS", "maybe"}},
                          {{u"log.file", u"/tmp/stolen.txt"},
                           {u"tls.ca-file", u"attacker.pem"},
                           {u"api.host", u"attacker.example"},
                           {u"colour", u"blue"},
                           {u"timeout.connect-ms", u"-1"}});
  const std::vector<std::string> expected = {
      "--set \"timeout.nothing\": there is no such setting",
      "--set timeout.io-ms=\"0\": the library leaves it out: timeout.io-ms takes a whole number "
      "of milliseconds from 1 to 86400000",
      "the environment variable TESSORANET_TIMEOUT_IO is no setting's: the library ignores it",
      "TESSORANET_LOG_SECRETS=\"maybe\": the library leaves it out: log.secrets takes \"clear\" "
      "or \"masked\"",
      "the endpoint file's \"SETTINGS\" sets log.file, which may come only from the environment "
      "or the host: the library ignores it",
      "the endpoint file's \"SETTINGS\" sets tls.ca-file, which may come only from the "
      "environment or the host: the library ignores it",
      "the endpoint file's \"SETTINGS\" sets api.host, which may come only from the environment "
      "or the host: the library ignores it",
      "the endpoint file's \"SETTINGS\" names \"colour\", which is no setting: the library "
      "ignores it",
      "the endpoint file's \"SETTINGS\" sets timeout.connect-ms to \"-1\": the library leaves it "
      "out: timeout.connect-ms takes a whole number of milliseconds from 1 to 86400000",
  };
  EXPECT_EQ(report.warnings, expected);
  for (const SettingInForce& line : report.inForce)
    EXPECT_EQ(line.source, "default") << line.name;
}

TEST(SettingsInForce, HeaderLinesShowOnOneLine) {
  const SettingsReport report =
      ReadSettingsInForce({{"request.headers", "Idempotency-Key: 42\nX-Request-Id: 7"}}, {}, {});
  EXPECT_EQ(Line(report, "request.headers").value, "Idempotency-Key: 42\\nX-Request-Id: 7");
}

}  // namespace
}  // namespace tessora::cli
