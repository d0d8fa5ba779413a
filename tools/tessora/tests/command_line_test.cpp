// The command-line grammar: configuration options, operation groups, and the usage errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"

namespace tessora::cli {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLineTest, ConfigurationOptionsFillTheConfiguration) {
  const Invocation got = ParseCommandLine(
      {"--library", "/opt/lib/libTessoraNet.so", "--endpoints", "e.json", "--client-id", "id",
       "--client-secret=s=cret", "--env", "127.0.0.1:8443/", "--partner-token", "pt", "--proxy",
       "proxy.local:3128", "--proxy-user", "u", "--proxy-password", "p"});
  EXPECT_FALSE(got.help);
  EXPECT_FALSE(got.raw);
  EXPECT_EQ(got.library, "/opt/lib/libTessoraNet.so");
  EXPECT_EQ(got.config.endpoints, "e.json");
  EXPECT_EQ(got.config.clientId, "id");
  EXPECT_EQ(got.config.clientSecret, "s=cret");  // split at the first "=" only
  EXPECT_EQ(got.config.environment, "127.0.0.1:8443/");
  EXPECT_EQ(got.config.partnerToken, "pt");
  EXPECT_EQ(got.config.proxyHost, "proxy.local");
  EXPECT_EQ(got.config.proxyPort, 3128);
  EXPECT_EQ(got.config.proxyUser, "u");
  EXPECT_EQ(got.config.proxyPassword, "p");
  EXPECT_TRUE(got.operations.empty());
}

TEST(CommandLineTest, NothingGivenMeansEmptyConfigurationAndNoOperation) {
  const Invocation got = ParseCommandLine({});
  EXPECT_EQ(got.library, "");
  EXPECT_EQ(got.config.environment, "");
  EXPECT_EQ(got.config.proxyHost, "");
  EXPECT_EQ(got.config.proxyPort, 0);
  EXPECT_TRUE(got.operations.empty());
}

TEST(CommandLineTest, EachOperationNameStartsAGroup) {
  const Invocation got = ParseCommandLine({"--env",
                                           "x.",
                                           "AUTHORIZE",
                                           "CHARGE_CREATE",
                                           "--body",
                                           "{\"amount\": 5}",
                                           "CHARGE_DETAIL",
                                           "-p",
                                           "id=ch_1",
                                           "--param",
                                           "extra=a=b",
                                           "CHARGE_LIST",
                                           "-q",
                                           "limit=2",
                                           "--query=offset=0",
                                           "--query",
                                           "flag",
                                           "CHARGE_CREATE",
                                           "--body-file",
                                           "charge.json",
                                           "--operation",
                                           "-odd-",
                                           "-b",
                                           "-5"});
  ASSERT_EQ(got.operations.size(), 6u);
  EXPECT_EQ(got.operations[0].name, "AUTHORIZE");
  EXPECT_TRUE(got.operations[0].params.empty());
  EXPECT_FALSE(got.operations[0].body.has_value());
  EXPECT_EQ(got.operations[1].body, "{\"amount\": 5}");
  EXPECT_EQ(got.operations[2].params, (Args{"id=ch_1", "extra=a=b"}));
  EXPECT_EQ(got.operations[3].queries, (Args{"limit=2", "offset=0", "flag"}));
  EXPECT_EQ(got.operations[4].bodyFile, "charge.json");
  EXPECT_FALSE(got.operations[4].body.has_value());
  EXPECT_EQ(got.operations[5].name, "-odd-");
  EXPECT_EQ(got.operations[5].body, "-5");  // a value is taken as it is, dash or not
}

TEST(CommandLineTest, RawAndHelpAreRecognisedAnywhere) {
  EXPECT_TRUE(ParseCommandLine({"AUTHORIZE", "--raw"}).raw);
  EXPECT_TRUE(ParseCommandLine({"--raw"}).raw);
  EXPECT_TRUE(ParseCommandLine({"AUTHORIZE", "--bogus", "-h"}).help);
  EXPECT_TRUE(ParseCommandLine({"--help"}).help);
}

TEST(CommandLineTest, ProxyForms) {
  EXPECT_EQ(ParseCommandLine({"--proxy", "[::1]:8080"}).config.proxyHost, "::1");
  EXPECT_EQ(ParseCommandLine({"--proxy", "[::1]:8080"}).config.proxyPort, 8080);
  EXPECT_EQ(ParseCommandLine({"--proxy", "10.0.0.1:65535"}).config.proxyPort, 65535);
  EXPECT_EQ(ParseCommandLine({"--proxy", "p:1"}).config.proxyPort, 1);
}

TEST(CommandLineTest, JoinLinesSeparatesWithCrLf) {
  EXPECT_EQ(JoinLines({}), "");
  EXPECT_EQ(JoinLines({"id=1"}), "id=1");
  EXPECT_EQ(JoinLines({"id=1", "x=2", "y=3"}), "id=1\r\nx=2\r\ny=3");
}

struct UsageCase {
  Args args;
  std::string messagePart;
};

class CommandLineUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CommandLineUsageTest, IsRefusedWithAHelpfulMessage) {
  try {
    ParseCommandLine(GetParam().args);
    FAIL() << "accepted";
  } catch (const UsageError& error) {
    EXPECT_NE(std::string(error.what()).find(GetParam().messagePart), std::string::npos)
        << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineUsageTest,
    ::testing::Values(UsageCase{{"--bogus"}, "unknown option --bogus"},
                      UsageCase{{"-x"}, "unknown option -x"},
                      UsageCase{{"--env"}, "--env needs a value"},
                      UsageCase{{"--raw=yes"}, "--raw takes no value"},
                      UsageCase{{"--env", "a", "--env", "b"}, "--env is given twice"},
                      UsageCase{{"AUTHORIZE", "--env", "x"}, "--env configures the library"},
                      UsageCase{{"--param", "id=1"}, "--param belongs to an operation"},
                      UsageCase{{"--body", "{}"}, "--body belongs to an operation"},
                      UsageCase{{"GET", "--param", "id"}, "--param takes name=value"},
                      UsageCase{{"GET", "--param", "=1"}, "--param takes name=value"},
                      UsageCase{{"GET", "--param", "a=1\r\nb=2"}, "repeat --param for several"},
                      UsageCase{{"GET", "--query", "a=1\nb=2"}, "repeat --query for several"},
                      UsageCase{{"GET", "--query", ""}, "--query takes name=value"},
                      UsageCase{{"POST", "--body", "a", "--body", "b"}, "one body per operation"},
                      UsageCase{{"POST", "--body", "a", "--body-file", "f"},
                                "one body per operation"},
                      UsageCase{{"POST", "--body-file", ""}, "--body-file needs a file name"},
                      UsageCase{{"CHARGE_DETAIL", "id=1"}, "looks like a parameter"},
                      UsageCase{{""}, "operation name is empty"},
                      UsageCase{{"--operation", ""}, "--operation needs a name"},
                      UsageCase{{"--proxy", "host"}, "--proxy takes HOST:PORT"},
                      UsageCase{{"--proxy", ":80"}, "--proxy takes HOST:PORT"},
                      UsageCase{{"--proxy", "host:"}, "--proxy takes HOST:PORT"},
                      UsageCase{{"--proxy", "host:0"}, "not a port number"},
                      UsageCase{{"--proxy", "host:65536"}, "not a port number"},
                      UsageCase{{"--proxy", "host:80a"}, "not a port number"},
                      UsageCase{{"--proxy", "[]:80"}, "not a port number"},
                      UsageCase{{"--proxy-user", "u"}, "need --proxy"},
                      UsageCase{{"--library", ""}, "--library needs a path"}));

}  // namespace
TEST(CommandLineTest, DoctorTakesTheConfigurationOptions) {
  const Invocation got =
      ParseCommandLine({"doctor", "--endpoints", "e.json", "--env", "sandbox.", "--proxy", "p:1"});
  EXPECT_TRUE(got.doctor);
  EXPECT_EQ(got.config.endpoints, "e.json");
  EXPECT_EQ(got.config.environment, "sandbox.");
  EXPECT_EQ(got.config.proxyHost, "p");
  EXPECT_TRUE(got.operations.empty());
  EXPECT_TRUE(ParseCommandLine({"--env", "x.", "doctor"}).doctor);
}

TEST(CommandLineTest, DoctorPerformsNoOperation) {
  EXPECT_THROW(ParseCommandLine({"doctor", "AUTHORIZE"}), UsageError);
  EXPECT_THROW(ParseCommandLine({"AUTHORIZE", "doctor"}), UsageError);
  EXPECT_THROW(ParseCommandLine({"doctor", "--trace"}), UsageError);
}

TEST(CommandLineTest, TraceAndVersionAreFlags) {
  const Invocation got = ParseCommandLine({"AUTHORIZE", "--trace"});
  EXPECT_TRUE(got.trace);
  EXPECT_FALSE(got.version);
  EXPECT_TRUE(ParseCommandLine({"--version"}).version);
  EXPECT_THROW(ParseCommandLine({"--trace=1"}), UsageError);
  EXPECT_FALSE(got.traceFull);
  const Invocation full = ParseCommandLine({"--trace=full", "AUTHORIZE"});
  EXPECT_TRUE(full.trace);
  EXPECT_TRUE(full.traceFull);
}

}  // namespace tessora::cli
