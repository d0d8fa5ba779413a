// What the library refuses to send, and what it says of an answer it cannot vouch for, as a host
// meets it through the exports.
#include <gtest/gtest.h>

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
    EXPECT_EQ(ok, 0) << text;
    EXPECT_NE(text.find("the route and the Parameters may not change the host"), std::string::npos)
        << text;
  }
  Configure(api.Environment());
  EXPECT_EQ(Try("CHARGE_DETAIL", "id=ch_1").first, 1);
  EXPECT_EQ(api.Requests(1).size(), 1u);
}

}  // namespace
}  // namespace tessora::test
