// The table of settings: names, variables, refused values, and the order in which the host, the
// environment, the endpoint file and the default give the value in force.
#include "api/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>  // setenv / _putenv_s

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "api/thread_settings.h"
#include "base/text.h"
#include "http/traffic_log.h"
#include "platform/library_entry.h"
#include "support/temp_dir.h"

namespace tessora {
namespace {

void SetVariable(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

void ClearVariable(const std::string& name) {
#ifdef _WIN32
  _putenv_s(name.c_str(), "");
#else
  unsetenv(name.c_str());
#endif
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LibraryStartup()); }
  void TearDown() override {
    for (const std::string& name : variables_)
      ClearVariable(name);
    LibraryShutdown();
  }
  void Environment(const std::string& name, const std::string& value) {
    SetVariable(name, value);
    variables_.push_back(name);
  }
  std::u16string InForce(const char* name) {
    return OptionInForce(&CurrentSettings(), *FindSettingKey(AsciiToText(name))).value;
  }
  SettingSource SourceOf(const char* name) {
    return OptionInForce(&CurrentSettings(), *FindSettingKey(AsciiToText(name))).source;
  }

  std::vector<std::string> variables_;
  test::TempDir dir_;
  test::ScopedCurrentDir cwd_{dir_.Path()};
};

TEST(SettingVariableName, UpperCaseWithDotsAndHyphensAsUnderscores) {
  EXPECT_EQ(SettingVariable("timeout.connect-ms"), "TESSORANET_TIMEOUT_CONNECT_MS");
  EXPECT_EQ(SettingVariable("log.secrets"), "TESSORANET_LOG_SECRETS");
}

TEST(SettingKeysTable, EveryDefaultIsAcceptedAsItIs) {
  for (const SettingKey& key : SettingKeys()) {
    SCOPED_TRACE(std::string(key.name));
    const auto accepted = key.normalise(key.defaultValue);
    ASSERT_TRUE(accepted.has_value());
    EXPECT_EQ(*accepted, key.defaultValue);
  }
}

TEST_F(SettingsTest, DefaultsWhenNothingSetsThem) {
  EXPECT_EQ(InForce("timeout.connect-ms"), u"20000");
  EXPECT_EQ(InForce("timeout.io-ms"), u"30000");
  EXPECT_EQ(InForce("timeout.call-ms"), u"none");
  EXPECT_EQ(SourceOf("timeout.io-ms"), SettingSource::kDefault);
  const CallOptions options = CurrentCallOptions(CurrentSettings());
  EXPECT_EQ(options.connectTimeoutMs, 20000);
  EXPECT_EQ(options.ioTimeoutMs, 30000);
  EXPECT_EQ(options.callTimeoutMs, 0);
}

struct RefusedCase {
  const char* name;
  const char16_t* value;
  const char16_t* reason;
};

class RefusedSetting : public SettingsTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedSetting, ChangesNothingAndSaysWhy) {
  const RefusedCase& c = GetParam();
  EXPECT_EQ(SetOption(CurrentSettings(), AsciiToText(c.name), c.value), c.reason);
  EXPECT_TRUE(CurrentSettings().options.empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadNamesAndValues, RefusedSetting,
    ::testing::Values(
        RefusedCase{"timeout.nothing", u"1", u"There is no setting \"timeout.nothing\"."},
        RefusedCase{"TIMEOUT.IO-MS", u"1", u"There is no setting \"TIMEOUT.IO-MS\"."},
        RefusedCase{"", u"1", u"There is no setting \"\"."},
        RefusedCase{"timeout.io-ms", u"",
                    u"The setting \"timeout.io-ms\" cannot be \"\": it takes a whole number of "
                    u"milliseconds from 1 to 86400000."},
        RefusedCase{"timeout.io-ms", u"0",
                    u"The setting \"timeout.io-ms\" cannot be \"0\": it takes a whole number of "
                    u"milliseconds from 1 to 86400000."},
        RefusedCase{"timeout.io-ms", u"86400001",
                    u"The setting \"timeout.io-ms\" cannot be \"86400001\": it takes a whole "
                    u"number of milliseconds from 1 to 86400000."},
        RefusedCase{"timeout.io-ms", u"-5",
                    u"The setting \"timeout.io-ms\" cannot be \"-5\": it takes a whole number of "
                    u"milliseconds from 1 to 86400000."},
        RefusedCase{"timeout.io-ms", u" 5",
                    u"The setting \"timeout.io-ms\" cannot be \" 5\": it takes a whole number of "
                    u"milliseconds from 1 to 86400000."},
        RefusedCase{"timeout.io-ms", u"5\n",
                    u"The setting \"timeout.io-ms\" cannot be \"5 \": it takes a whole number of "
                    u"milliseconds from 1 to 86400000."},
        RefusedCase{"timeout.io-ms", u"99999999999999999999",
                    u"The setting \"timeout.io-ms\" cannot be \"99999999999999999999\": it takes a "
                    u"whole number of milliseconds from 1 to 86400000."},
        RefusedCase{"timeout.call-ms", u"never",
                    u"The setting \"timeout.call-ms\" cannot be \"never\": it takes \"none\" or a "
                    u"whole number of milliseconds from 1 to 86400000."},
        RefusedCase{"log.secrets", u"hidden",
                    u"The setting \"log.secrets\" cannot be \"hidden\": it takes \"clear\" or "
                    u"\"masked\"."},
        RefusedCase{"tls.max-version", u"1.1",
                    u"The setting \"tls.max-version\" cannot be \"1.1\": it takes \"1.2\" or "
                    u"\"1.3\"."},
        RefusedCase{"tls.max-version", u"TLS1.3",
                    u"The setting \"tls.max-version\" cannot be \"TLS1.3\": it takes \"1.2\" or "
                    u"\"1.3\"."},
        RefusedCase{"api.host", u"",
                    u"The setting \"api.host\" cannot be \"\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u"staging.example:8443",
                    u"The setting \"api.host\" cannot be \"staging.example:8443\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u"evil.example/x",
                    u"The setting \"api.host\" cannot be \"evil.example/x\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u"user@evil.example",
                    u"The setting \"api.host\" cannot be \"user@evil.example\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u"a..b",
                    u"The setting \"api.host\" cannot be \"a..b\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u".api.example",
                    u"The setting \"api.host\" cannot be \".api.example\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u"api.example.",
                    u"The setting \"api.host\" cannot be \"api.example.\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u"api example",
                    u"The setting \"api.host\" cannot be \"api example\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u"api.example?x",
                    u"The setting \"api.host\" cannot be \"api.example?x\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u"api.example#x",
                    u"The setting \"api.host\" cannot be \"api.example#x\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u"api\\example",
                    u"The setting \"api.host\" cannot be \"api\\example\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u"api\nexample",
                    u"The setting \"api.host\" cannot be \"api example\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u"-api.example",
                    u"The setting \"api.host\" cannot be \"-api.example\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u"api-.example",
                    u"The setting \"api.host\" cannot be \"api-.example\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."},
        RefusedCase{"api.host", u"api_x.example",
                    u"The setting \"api.host\" cannot be \"api_x.example\": "
                    u"it takes a host name: labels of letters, digits and \"-\" joined by dots, "
                    u"at most 253 characters."}));

class RefusedHeaders : public SettingsTest,
                       public ::testing::WithParamInterface<const char16_t*> {};

TEST_P(RefusedHeaders, AreNotStored) {
  const std::u16string reason = SetOption(CurrentSettings(), u"request.headers", GetParam());
  EXPECT_TRUE(reason.starts_with(u"The setting \"request.headers\" cannot be "))
      << TextToUtf8(reason);
  EXPECT_EQ(InForce("request.headers"), u"");
}

INSTANTIATE_TEST_SUITE_P(NamesAndValues, RefusedHeaders,
                         ::testing::Values(u"Host: elsewhere", u"X-Ok: 1\nhost: elsewhere",
                                           u"Content-Length: 5", u"PARTNER-TOKEN: x",
                                           u"Authorization: Basic eA==", u"Connection: close",
                                           u"User-Agent: me", u"X-Bad: a\x01b", u"X-Tab: a\tb",
                                           u"No colon", u"Bad Name: x", u": empty name",
                                           u"X-\u00e9: x"));

TEST_F(SettingsTest, HeaderLinesAreKeptOnePerLine) {
  EXPECT_EQ(SetOption(CurrentSettings(), u"request.headers", u"X-One: 1\n\nX-Two: 2\r\n"), u"");
  EXPECT_EQ(InForce("request.headers"), u"X-One: 1\r\nX-Two: 2");
  const std::vector<std::u16string> lines = {u"X-One: 1", u"X-Two: 2"};
  EXPECT_EQ(CurrentCallOptions(CurrentSettings()).extraHeaderLines, lines);
  EXPECT_EQ(SetOption(CurrentSettings(), u"request.headers", u""), u"");
  EXPECT_TRUE(CurrentCallOptions(CurrentSettings()).extraHeaderLines.empty());
}

struct PrecedenceCase {
  const char* what;
  const char* host;         // nullptr: the host sets nothing
  const char* environment;  // nullptr: no variable
  const char* file;         // nullptr: not in the endpoint file
  const char16_t* inForce;
  SettingSource source;
};

class Precedence : public SettingsTest, public ::testing::WithParamInterface<PrecedenceCase> {};

TEST_P(Precedence, HostThenEnvironmentThenFileThenDefault) {
  const PrecedenceCase& c = GetParam();
  if (c.environment != nullptr) {
    Environment("TESSORANET_TIMEOUT_IO_MS", c.environment);
    LoadEnvironmentSettings();
  }
  if (c.file != nullptr) ApplyFileSettings({{u"timeout.io-ms", AsciiToText(c.file)}});
  if (c.host != nullptr) {
    EXPECT_EQ(SetOption(CurrentSettings(), u"timeout.io-ms", AsciiToText(c.host)), u"");
  }
  EXPECT_EQ(InForce("timeout.io-ms"), c.inForce);
  EXPECT_EQ(SourceOf("timeout.io-ms"), c.source);
}

INSTANTIATE_TEST_SUITE_P(
    EveryLayer, Precedence,
    ::testing::Values(
        PrecedenceCase{"none", nullptr, nullptr, nullptr, u"30000", SettingSource::kDefault},
        PrecedenceCase{"file", nullptr, nullptr, "300", u"300", SettingSource::kEndpointFile},
        PrecedenceCase{"env", nullptr, "200", "300", u"200", SettingSource::kEnvironment},
        PrecedenceCase{"host", "100", "200", "300", u"100", SettingSource::kHost},
        PrecedenceCase{"hostOverFile", "100", nullptr, "300", u"100", SettingSource::kHost},
        PrecedenceCase{"badEnv", nullptr, "abc", "300", u"300", SettingSource::kEndpointFile},
        PrecedenceCase{"badFile", nullptr, nullptr, "0", u"30000", SettingSource::kDefault}),
    [](const ::testing::TestParamInfo<PrecedenceCase>& row) { return row.param.what; });

TEST_F(SettingsTest, UnknownFileEntriesAreLeftOut) {
  ApplyFileSettings({{u"no.such-key", u"1"}, {u"timeout.connect-ms", u"1500"}});
  EXPECT_EQ(InForce("timeout.connect-ms"), u"1500");
}

TEST_F(SettingsTest, ALaterEndpointFileReplacesTheEarlierOnesValues) {
  ApplyFileSettings({{u"timeout.connect-ms", u"1500"}});
  ApplyFileSettings({});
  EXPECT_EQ(InForce("timeout.connect-ms"), u"20000");
}

TEST_F(SettingsTest, AThreadKeyTheHostSetHoldsForThatThreadOnly) {
  EXPECT_EQ(SetOption(CurrentSettings(), u"timeout.connect-ms", u"1234"), u"");
  EXPECT_EQ(CurrentCallOptions(CurrentSettings()).connectTimeoutMs, 1234);
  ThreadSettings other;
  EXPECT_EQ(CurrentCallOptions(other).connectTimeoutMs, 20000);
}

TEST_F(SettingsTest, NoneClearsTheCallDeadline) {
  EXPECT_EQ(SetOption(CurrentSettings(), u"timeout.call-ms", u"5000"), u"");
  EXPECT_EQ(CurrentCallOptions(CurrentSettings()).callTimeoutMs, 5000);
  EXPECT_EQ(SetOption(CurrentSettings(), u"timeout.call-ms", u"NONE"), u"");
  EXPECT_EQ(InForce("timeout.call-ms"), u"none");
  EXPECT_EQ(CurrentCallOptions(CurrentSettings()).callTimeoutMs, 0);
}

TEST_F(SettingsTest, TheEndpointFileCannotSetTheLogFile) {
  ApplyFileSettings({{u"log.file", u"elsewhere.txt"}, {u"log.secrets", u"masked"}});
  EXPECT_EQ(InForce("log.file"), u"Call Logs.txt");
  EXPECT_EQ(InForce("log.secrets"), u"masked");
}

TEST_F(SettingsTest, TheEndpointFileCannotSetTheApiHost) {
  ApplyFileSettings({{u"api.host", u"elsewhere.example"}});
  EXPECT_EQ(InForce("api.host"), u"" TESSORA_API_HOST);
  EXPECT_EQ(SourceOf("api.host"), SettingSource::kDefault);
  EXPECT_EQ(CurrentCallOptions(CurrentSettings()).apiHost, u"" TESSORA_API_HOST);
}

TEST_F(SettingsTest, TheEndpointFileCannotSetTheCaFile) {
  ApplyFileSettings({{u"tls.ca-file", u"attacker.pem"}});
  EXPECT_EQ(InForce("tls.ca-file"), u"");
  EXPECT_EQ(SourceOf("tls.ca-file"), SettingSource::kDefault);
  EXPECT_EQ(SetOption(CurrentSettings(), u"tls.ca-file", u"company-ca.pem"), u"");
  EXPECT_EQ(InForce("tls.ca-file"), u"company-ca.pem");
  EXPECT_EQ(SetOption(CurrentSettings(), u"tls.ca-file", u""), u"");
  EXPECT_EQ(SourceOf("tls.ca-file"), SettingSource::kHost);
}

TEST_F(SettingsTest, TheApiHostIsAHostNameOfAtMost253Characters) {
  const std::u16string label63(63, u'a');
  const std::u16string longest = label63 + u"." + label63 + u"." + label63 + u"." +
                                 std::u16string(61, u'b');  // 253 characters
  EXPECT_EQ(SetOption(CurrentSettings(), u"api.host", longest), u"");
  EXPECT_EQ(InForce("api.host"), longest);
  EXPECT_NE(SetOption(CurrentSettings(), u"api.host", longest + u"b"), u"");
  EXPECT_NE(SetOption(CurrentSettings(), u"api.host", std::u16string(64, u'a') + u".example"), u"");
  EXPECT_EQ(InForce("api.host"), longest);
  EXPECT_EQ(SetOption(CurrentSettings(), u"api.host", u"API.Staging-1.Example"), u"");
  EXPECT_EQ(InForce("api.host"), u"api.staging-1.example");
  EXPECT_EQ(SourceOf("api.host"), SettingSource::kHost);
  EXPECT_EQ(CurrentCallOptions(CurrentSettings()).apiHost, u"api.staging-1.example");
}

TEST_F(SettingsTest, NoLogIsOffWhetherEmptyOrOff) {
  EXPECT_EQ(SetOption(CurrentSettings(), u"log.file", u""), u"");
  EXPECT_EQ(InForce("log.file"), u"off");
  EXPECT_EQ(SetOption(CurrentSettings(), u"log.file", u"OFF"), u"");
  EXPECT_EQ(InForce("log.file"), u"off");
  EXPECT_EQ(SetOption(CurrentSettings(), u"log.file", u"a\tb"),
            u"The setting \"log.file\" cannot be \"a b\": it takes a file path without control "
            u"characters, or \"\" or \"off\" for no log.");
}

// Start-up with variables set beforehand, as a host process's environment is at load.
class LoadWithEnvironment : public ::testing::Test {
 protected:
  void TearDown() override {
    ClearVariable("TESSORANET_LOG_FILE");
    ClearVariable("TESSORANET_TLS_CA_FILE");
    LibraryShutdown();
  }
  test::TempDir dir_;
  test::ScopedCurrentDir cwd_{dir_.Path()};
};

TEST_F(LoadWithEnvironment, TheLogTakesTheNameOfItsVariable) {
  SetVariable("TESSORANET_LOG_FILE", "traffic.log");
  ASSERT_TRUE(LibraryStartup());
  EXPECT_TRUE(std::filesystem::exists(dir_ / "traffic.log"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Call Logs.txt"));
  EXPECT_EQ(OptionInForce(&CurrentSettings(), *FindSettingKey(u"log.file")).source,
            SettingSource::kEnvironment);
}

TEST_F(LoadWithEnvironment, TheCaFileTakesItsVariable) {
  SetVariable("TESSORANET_TLS_CA_FILE", "company-ca.pem");
  ASSERT_TRUE(LibraryStartup());
  const SettingValue inForce = OptionInForce(&CurrentSettings(), *FindSettingKey(u"tls.ca-file"));
  EXPECT_EQ(inForce.value, u"company-ca.pem");
  EXPECT_EQ(inForce.source, SettingSource::kEnvironment);
}

TEST_F(LoadWithEnvironment, OffMeansNoLog) {
  SetVariable("TESSORANET_LOG_FILE", "off");
  ASSERT_TRUE(LibraryStartup());
  EXPECT_EQ(CurrentSettings().callLog, nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Call Logs.txt"));
}

}  // namespace
}  // namespace tessora
