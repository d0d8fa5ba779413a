// What the library refuses to send, and what it says of an answer it cannot vouch for, as a host
// meets it through the exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "support/host_library.h"
#include "support/scripted_api.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace tessora::test {
namespace {

constexpr char kEndpoints[] = R"({"ENDPOINTS": {
  "AUTHORIZE": {"route": "/v1/oauth/token", "method": "POST"},
  "CHARGE_DETAIL": {"route": "/v1/charges/:id", "method": "GET"},
  "CHARGE_LIST": {"route": "/v1/charges", "method": "GET"}
}})";

class Hardening : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(dir_ / "endpoints.json", kEndpoints);
    ASSERT_TRUE(library_.Loaded());
  }

  void Configure(const std::string& environment, const char* partnerToken = "") {
    library_.configureService("client", "secret", environment.c_str(), "endpoints.json",
                              partnerToken);
  }

  // TessoraNetTry: whether it answered, and the text it handed back.
  std::pair<int, std::string> Try(const char* operation, const char* parameters = "",
                                  const char* query = "") {
    char* result = nullptr;
    const int ok = library_.tessoraNetTry(operation, parameters, query, "", &result);
    std::string text = result != nullptr ? result : "";
    library_.tessoraNetFree(result);
    return {ok, text};
  }

  TempDir dir_;
  ScopedCurrentDir cwd_{dir_.Path()};
  HostLibrary library_;
};

// The host connected to and the host the certificate is checked against were taken from two
// parses of the URL that disagreed once a "?" was in it: the request reached 127.0.0.1 while the
// certificate was checked for other.example.com.
TEST_F(Hardening, AnEnvironmentThatCouldSplitTheHostIsRefusedBeforeSending) {
  ScriptedServer server(
      ScriptedServer::kTls,
      [](ServerConnection& connection) {
        connection.ReadHead();
        connection.Write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}");
      },
      "other");
  const std::string port = std::to_string(server.Port());
  const std::string environments[] = {
      "other.example.com#@127.0.0.1:" + port + "/", "other.example.com@127.0.0.1:" + port + "/",
      "127.0.0.1:" + port + "?/", "127.0.0.1:" + port + "\\", "127.0.0.1:" + port + "/\t"};
  for (const std::string& environment : environments) {
    SCOPED_TRACE(environment);
    Configure(environment);
    const auto [ok, text] = Try("CHARGE_LIST", "", "limit=1");
    EXPECT_EQ(ok, 0) << text;
    EXPECT_EQ(text.rfind("The Environment \"" + environment + "\" cannot be used: it holds ", 0),
              0u)
        << text;
    EXPECT_EQ(library_.LastError(), text);
    EXPECT_EQ(library_.tessoraNetLastStatus(), 0);
  }
  EXPECT_EQ(server.Connections(), 0);
}

// Such a call fails as a request to another host would: "" for the host, the reason in
// TessoraNetLastError, and nothing sent, neither to the API nor anywhere else.
TEST_F(Hardening, ARouteOrParametersThatMoveTheHostAreRefusedBeforeSending) {
  ScriptedApi api({JsonReply("200 OK", "{}")});
  // A route that does not begin with "/" joins the host name: with the Environment "sandbox" it
  // would send the request (and the bearer token) to the scripted server instead.
  WriteFileBytes(dir_ / "endpoints.json",
                 R"({"ENDPOINTS": {
  "CHARGE_DETAIL": {"route": "/v1/charges/:id", "method": "GET"},
  "ELSEWHERE": {"route": "@127.0.0.1:)" +
                     std::to_string(api.Port()) + R"(/v1/charges", "method": "GET"}}})");
  const struct {
    const char* environment;
    const char* operation;
    const char* parameters;
  } kCases[] = {
      {"sandbox", "ELSEWHERE", ""},
      // An empty name: its placeholder is the colon of "https://".
      {"", "CHARGE_DETAIL", "id=ch_1\r\n\r\n"},
      // A name that rewrites "://" and the host.
      {"", "CHARGE_DETAIL", "//127.0.0.1=//x/"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.parameters);
    Configure(*c.environment != '\0' ? c.environment : api.Environment());
    const auto [ok, text] = Try(c.operation, c.parameters);
    EXPECT_EQ(ok, 1) << text;
    EXPECT_EQ(text, "");
    const std::string reason = library_.LastError();
    EXPECT_EQ(reason.rfind("The URL \"", 0), 0u) << reason;
    EXPECT_NE(
        reason.find("the route and the Parameters may not change the host. Nothing was sent."),
        std::string::npos)
        << reason;
    EXPECT_EQ(library_.tessoraNetLastStatus(), 0);
    // Through the five exports alike: the call returns "" and raises nothing.
    char* result = library_.tessoraNet(c.operation, c.parameters, "", "");
    ASSERT_NE(result, nullptr);
    EXPECT_STREQ(result, "");
    library_.tessoraNetFree(result);
  }
  EXPECT_EQ(api.Connections(), 0);
  Configure(api.Environment());
  EXPECT_EQ(Try("CHARGE_DETAIL", "id=ch_1").first, 1);
  EXPECT_EQ(api.Requests(1).size(), 1u);
}

// Parameters whose value holds its own placeholder, filled in again by every later entry: a block
// of 12 KB would make a URL of 12 million characters and keep the call busy for minutes. The call
// is refused instead, as one that would move the host is.
TEST_F(Hardening, ParametersThatWouldMakeAHugeUrlAreRefusedBeforeSending) {
  ScriptedApi api({JsonReply("200 OK", "{}")});
  Configure(api.Environment());
  std::string parameters = "id=";
  for (int i = 0; i < 2000; ++i)
    parameters += ":id";
  for (int i = 0; i < 2000; ++i)
    parameters += "\r\nid";
  const auto [ok, text] = Try("CHARGE_DETAIL", parameters.c_str());
  EXPECT_EQ(ok, 1) << text;
  EXPECT_EQ(text, "");
  EXPECT_EQ(library_.LastError(),
            "The route and the Parameters make a URL of more than 65536 characters. Nothing was "
            "sent.");
  EXPECT_EQ(api.Connections(), 0);
}

TEST_F(Hardening, APartnerTokenWithALineBreakInsideFailsTheCallBeforeSending) {
  ScriptedApi api({JsonReply("200 OK", "{}")});
  Configure(api.Environment(), "pt\r\nHost: evil.example\r\nContent-Length: 0");
  const auto [ok, text] = Try("CHARGE_DETAIL", "id=ch_1");
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(text,
            "The value of the header \"partner-token\" holds a line break, which would add header "
            "lines of its own. Nothing was sent.");
  EXPECT_EQ(library_.LastError(), text);

  // Line breaks at the end, as a value read from a file often has, go as before.
  Configure(api.Environment(), "pt\r\n");
  EXPECT_EQ(Try("CHARGE_DETAIL", "id=ch_1").first, 1);
  const auto requests = api.Requests(1);
  ASSERT_EQ(requests.size(), 1u);
  const auto lines = requests[0].HeaderLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "partner-token: pt"), 1);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.rfind("Host:", 0) == 0; }),
            1);
}

// A "?" standing for a character outside ASCII ended the path: "id=café/x" went out as
// /v1/charges/caf?/x, another resource (with DELETE, another charge).
TEST_F(Hardening, NonAsciiRouteValuesGoOutPercentEncodedAsUtf8) {
  ScriptedApi api({JsonReply("200 OK", "{}")});
  Configure(api.Environment());
  // The host's text is in the ANSI code page: UTF-8 on Linux (the C locale), 1252 under Wine.
#if defined(_WIN32)
  const char* parameters = "id=caf\xE9/x";
#else
  const char* parameters = "id=caf\xC3\xA9/x";
#endif
  EXPECT_EQ(Try("CHARGE_DETAIL", parameters).first, 1);
  const auto requests = api.Requests(1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].RequestLine(), "GET /api.tessora.net/v1/charges/caf%C3%A9/x HTTP/1.1");
}

// The contract returns what arrived, so a cut-off answer keeps its result and status; the reason
// tells the host it is not whole.
TEST_F(Hardening, ACutOffAnswerIsReturnedAndSaidToBeIncomplete) {
  const std::string body = R"({"id":"ch_1","amount":1000,)";  // 27 of 100 bytes
  ScriptedServer server(ScriptedServer::kTls, [&body](ServerConnection& connection) {
    connection.ReadHead();
    connection.Write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + body);
    connection.Close();
  });
  Configure("127.0.0.1:" + std::to_string(server.Port()) + "/");
  const auto [ok, text] = Try("CHARGE_DETAIL", "id=ch_1");
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(text, body);
  EXPECT_EQ(library_.tessoraNetLastStatus(), 200);
  EXPECT_EQ(library_.LastError(),
            "Incomplete answer from 127.0.0.1:" + std::to_string(server.Port()) +
                ": the answer ended after 27 of 100 bytes.");
}

struct TokenCase {
  const char* name;
  const char* answer;
  const char* reason;
};

class RefusedToken : public Hardening, public ::testing::WithParamInterface<TokenCase> {};

// The server's token reaches the Authorization line of every later request of the thread.
TEST_P(RefusedToken, IsNotKeptAndAddsNoHeaderLine) {
  ScriptedApi api({JsonReply("200 OK", R"({"access_token":"good","token_type":"Bearer",)"
                                       R"("expires_in":3600})"),
                   JsonReply("200 OK", GetParam().answer), JsonReply("200 OK", "{}")});
  Configure(api.Environment());
  ASSERT_EQ(Try("AUTHORIZE").first, 1);
  ASSERT_EQ(library_.tessoraNetTokenExpired(), 0);

  const auto [ok, text] = Try("AUTHORIZE");
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(text, GetParam().answer);  // the answer itself is the host's
  EXPECT_EQ(library_.LastError(), GetParam().reason);
  EXPECT_EQ(library_.tessoraNetLastStatus(), 200);
  char* token = nullptr;
  library_.tessoraNetGetInstanceData(&token);
  EXPECT_STREQ(token, "");
  library_.tessoraNetFree(token);
  EXPECT_EQ(library_.tessoraNetTokenExpired(), 1);

  EXPECT_EQ(Try("CHARGE_DETAIL", "id=1").first, 1);
  const auto requests = api.Requests(3);
  ASSERT_EQ(requests.size(), 3u);
  for (const std::string& line : requests[2].HeaderLines()) {
    EXPECT_NE(line.rfind("Authorization", 0), 0u) << line;
    EXPECT_NE(line.rfind("X-Evil", 0), 0u) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedToken,
    ::testing::Values(
        TokenCase{"LineBreakInTheAccessToken",
                  R"({"access_token":"t\r\nX-Evil: 1","token_type":"Bearer","expires_in":60})",
                  "The token response's access_token holds a control character (U+000D), so no "
                  "token was kept."},
        TokenCase{"LoneLineFeedInTheTokenType",
                  R"({"access_token":"t","token_type":"Bearer\nX-Evil: 1","expires_in":60})",
                  "The token response's token_type holds a control character (U+000A), so no "
                  "token was kept."},
        TokenCase{"TabInTheAccessToken",
                  R"({"access_token":"a\tb","token_type":"Bearer","expires_in":60})",
                  "The token response's access_token holds a control character (U+0009), so no "
                  "token was kept."}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tessora::test
