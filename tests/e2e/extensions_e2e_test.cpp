// The extension exports as a host uses them: releasing results, calling without a failure leaving
// the library, the HTTP status and the reason of the thread's last call, the version.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "TessoraNet.h"
#include "support/host_library.h"
#include "support/scripted_api.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/test_socket.h"

namespace tessora::test {
namespace {

constexpr char kEndpoints[] = R"({"ENDPOINTS": {
  "AUTHORIZE": {"route": "/v1/oauth/token", "method": "POST"},
  "CHARGE_CREATE": {"route": "/v1/charges", "method": "POST"},
  "CHARGE_DETAIL": {"route": "/v1/charges/:id", "method": "GET"}
}})";

class Extensions : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(dir_ / "endpoints.json", kEndpoints);
    ASSERT_TRUE(library_.Loaded());
    ASSERT_NE(library_.tessoraNetTry, nullptr);
  }

  void Configure(const std::string& environment, const char* file = "endpoints.json") {
    library_.configureService("client", "secret", environment.c_str(), file, "");
  }

  // TessoraNetTry: its answer and the text it handed back (released).
  std::pair<int, std::string> Try(const char* operation, const char* parameters = "",
                                  const char* body = "") {
    char* result = nullptr;
    const int ok = library_.tessoraNetTry(operation, parameters, "", body, &result);
    EXPECT_NE(result, nullptr);
    std::string text = result != nullptr ? result : "";
    library_.tessoraNetFree(result);
    return {ok, text};
  }

  std::string Call(const char* operation, const char* parameters = "") {
    char* result = library_.tessoraNet(operation, parameters, "", "");
    std::string text = result != nullptr ? result : "";
    library_.tessoraNetFree(result);
    return text;
  }

  // The Environment of a port where nothing listens.
  static std::string ClosedEnvironment(int* port = nullptr) {
    int closed = 0;
    {
      ScriptedApi gone({});
      closed = gone.Port();
    }
    if (port != nullptr) *port = closed;
    return "127.0.0.1:" + std::to_string(closed) + "/";
  }

  TempDir dir_;
  ScopedCurrentDir cwd_{dir_.Path()};
  HostLibrary library_;
};

TEST_F(Extensions, TheVersionIsTheProjectsAndOwnedByTheLibrary) {
  const char* version = library_.tessoraNetVersion();
  ASSERT_NE(version, nullptr);
  EXPECT_STREQ(version, TESSORA_VERSION);
  EXPECT_EQ(library_.tessoraNetVersion(), version);
}

TEST_F(Extensions, FreeAcceptsNullAndReleasesEveryKindOfResult) {
  library_.tessoraNetFree(nullptr);
  ScriptedApi api({JsonReply("200 OK", R"({"id":"ch_1"})")});
  Configure(api.Environment());
  // A thousand calls that release what they get (fewer under Wine, where each costs more).
#if defined(_WIN32)
  constexpr int kCalls = 200;
#else
  constexpr int kCalls = 1000;
#endif
  for (int i = 0; i < kCalls; ++i) {
    library_.tessoraNetFree(library_.tessoraNet("CHARGE_DETAIL", "id=1", "", ""));
    char* token = nullptr;
    library_.tessoraNetGetInstanceData(&token);
    library_.tessoraNetFree(token);
    char* reason = nullptr;
    library_.tessoraNetLastError(&reason);
    library_.tessoraNetFree(reason);
  }
  // Under the leak checker, nothing handed out stays behind.
}

TEST_F(Extensions, TrySendsWhatTessoraNetSendsAndHandsBackTheAnswer) {
  ScriptedApi api({JsonReply("200 OK", R"({"id":"ch_1"})")});
  Configure(api.Environment());
  EXPECT_EQ(Call("CHARGE_DETAIL", "id=1"), R"({"id":"ch_1"})");
  const std::string logAfterOne = ReadFileBytes(dir_ / "Call Logs.txt");
  EXPECT_EQ(Try("CHARGE_DETAIL", "id=1"), std::make_pair(1, std::string(R"({"id":"ch_1"})")));
  const std::string logAfterTwo = ReadFileBytes(dir_ / "Call Logs.txt");

  const auto requests = api.Requests(2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].head, requests[1].head);
  // The second call adds the same records as the first (time stamps aside), and closes the
  // first call's kept-alive connection on its way.
  const std::string second = logAfterTwo.substr(logAfterOne.size());
  EXPECT_NE(second.find("Stat Disconnected."), std::string::npos) << second;
  EXPECT_NE(second.find("GET /api.tessora.net/v1/charges/1 HTTP/1.1"), std::string::npos) << second;
  EXPECT_NE(second.find(R"({"id":"ch_1"})"), std::string::npos) << second;
}

TEST_F(Extensions, TryCapturesTheTokenAsTessoraNetDoes) {
  ScriptedApi api(
      {JsonReply("200 OK", R"({"access_token":"tok-9","token_type":"Bearer","expires_in":60})")});
  Configure(api.Environment());
  EXPECT_EQ(Try("AUTHORIZE").first, 1);
  char* token = nullptr;
  library_.tessoraNetGetInstanceData(&token);
  EXPECT_STREQ(token, "tok-9");
  library_.tessoraNetFree(token);
  EXPECT_EQ(library_.tessoraNetTokenExpired(), 0);
}

TEST_F(Extensions, TryHandsBackTheFailureInsteadOfRaisingIt) {
  ScriptedApi api({JsonReply("200 OK", "{}")});
  Configure(api.Environment(), "missing.json");
  auto [ok, text] = Try("CHARGE_DETAIL", "id=1");
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(text.rfind("Cannot open file \"", 0), 0u) << text;
  EXPECT_EQ(library_.LastError(), text);
  EXPECT_EQ(library_.tessoraNetLastErrorKind(), TESSORANET_ERROR_ENDPOINT_FILE);
  EXPECT_EQ(library_.tessoraNetLastStatus(), 0);

  WriteFileBytes(dir_ / "broken.json", "{\"ENDPOINTS\": {\"A\": {\"route\" \"/x\"}}}");
  Configure(api.Environment(), "broken.json");
  std::tie(ok, text) = Try("CHARGE_DETAIL", "id=1");
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(text, "Expected :. (Line: 1 Col: 33)");
  EXPECT_EQ(library_.LastError(),
            "The endpoint file broken.json cannot be read: Expected :. (Line: 1 Col: 33)");
  EXPECT_EQ(library_.tessoraNetLastErrorKind(), TESSORANET_ERROR_ENDPOINT_FILE);

  Configure(api.Environment());
  std::tie(ok, text) = Try("REFUND_CREATE");
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(text, "Problem in endpoint");
  EXPECT_EQ(library_.LastError(),
            "Operation REFUND_CREATE is not in the endpoint file endpoints.json");
  EXPECT_EQ(library_.tessoraNetLastErrorKind(), TESSORANET_ERROR_UNKNOWN_OPERATION);

  EXPECT_EQ(Try("CHARGE_DETAIL", "id=1"), std::make_pair(1, std::string("{}")));
  EXPECT_EQ(library_.LastError(), "");
  EXPECT_EQ(library_.tessoraNetLastStatus(), 200);
  EXPECT_EQ(library_.tessoraNetLastErrorKind(), TESSORANET_ERROR_NONE);
}

TEST_F(Extensions, TryWithoutAResultPointerStillPerforms) {
  ScriptedApi api({JsonReply("200 OK", "{}")});
  Configure(api.Environment());
  EXPECT_EQ(library_.tessoraNetTry("CHARGE_DETAIL", "id=1", "", "", nullptr), 1);
  EXPECT_EQ(library_.tessoraNetTry("NOPE", "", "", "", nullptr), 0);
  EXPECT_EQ(api.Requests(1).size(), 1u);
}

struct StatusCase {
  const char* status;
  int code;
};

class LastStatus : public Extensions, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(LastStatus, IsTheCodeOfTheAnswer) {
  ScriptedApi api({JsonReply(GetParam().status, R"({"x":1})")});
  Configure(api.Environment());
  Call("CHARGE_DETAIL", "id=1");
  EXPECT_EQ(library_.tessoraNetLastStatus(), GetParam().code);
  EXPECT_EQ(library_.LastError(), "");
}

INSTANTIATE_TEST_SUITE_P(Table, LastStatus,
                         ::testing::Values(StatusCase{"200 OK", 200},
                                           StatusCase{"201 Created", 201},
                                           StatusCase{"302 Found", 302},
                                           StatusCase{"404 Not Found", 404},
                                           StatusCase{"422 Unprocessable Entity", 422},
                                           StatusCase{"500 Internal Server Error", 500}),
                         [](const auto& row) { return std::to_string(row.param.code); });

TEST_F(Extensions, ATransportFailureHasNoStatusAndSaysWhere) {
  int port = 0;
  Configure(ClosedEnvironment(&port));
  EXPECT_EQ(Call("CHARGE_DETAIL", "id=1"), "");
  EXPECT_EQ(library_.tessoraNetLastStatus(), 0);
  EXPECT_EQ(library_.LastError(), "Connecting to 127.0.0.1:" + std::to_string(port) +
                                      " failed: Socket Error # 10061 Connection refused.");
  EXPECT_EQ(library_.tessoraNetLastErrorKind(), TESSORANET_ERROR_CONNECT);
}

TEST_F(Extensions, AnUnresolvableHostIsNamed) {
  // (An empty label makes the name fail inside the resolver, without a query on the network.)
  Configure("no-such-host..");
  EXPECT_EQ(Call("CHARGE_DETAIL", "id=1"), "");
  EXPECT_EQ(library_.LastError(), std::string("Connecting to no-such-host..") + TESSORA_API_HOST +
                                      ":443 failed: Socket Error # 11001 Host not found.");
  EXPECT_EQ(library_.tessoraNetLastErrorKind(), TESSORANET_ERROR_NAME_RESOLUTION);
}

TEST_F(Extensions, ARefusedProxyConnectionNamesTheProxy) {
  ScriptedApi api({JsonReply("200 OK", "{}")});
  Configure(api.Environment());
  int proxyPort = 0;
  ClosedEnvironment(&proxyPort);
  library_.configureProxy("127.0.0.1", proxyPort, "", "");
  EXPECT_EQ(Call("CHARGE_DETAIL", "id=1"), "");
  EXPECT_EQ(library_.LastError(), "Connecting to the proxy 127.0.0.1:" + std::to_string(proxyPort) +
                                      " failed: Socket Error # 10061 Connection refused.");
  EXPECT_EQ(library_.tessoraNetLastErrorKind(), TESSORANET_ERROR_PROXY);
}

TEST_F(Extensions, AProxyThatRefusesTheTunnelIsQuoted) {
  ScriptedServer proxy(ScriptedServer::kPlain, [](ServerConnection& connection) {
    connection.ReadHead();
    connection.Write("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
    connection.Close();
  });
  Configure("api.example/");
  library_.configureProxy("127.0.0.1", proxy.Port(), "", "");
  EXPECT_EQ(Call("CHARGE_DETAIL", "id=1"), "");
  EXPECT_EQ(library_.tessoraNetLastStatus(), 0);
  EXPECT_EQ(library_.LastError(), "The proxy refused the tunnel: HTTP/1.1 502 Bad Gateway");
  EXPECT_EQ(library_.tessoraNetLastErrorKind(), TESSORANET_ERROR_PROXY);
}

TEST_F(Extensions, AnUntrustedServerGivesTheCertificateVerdict) {
  ScriptedServer server(
      ScriptedServer::kTls, [](ServerConnection&) {}, "selfsigned");
  Configure("127.0.0.1:" + std::to_string(server.Port()) + "/");
  EXPECT_EQ(Call("CHARGE_DETAIL", "id=1"), "");
  const std::string reason = library_.LastError();
  const std::string prefix =
      "TLS handshake with 127.0.0.1:" + std::to_string(server.Port()) + " failed: ";
  EXPECT_EQ(reason.rfind(prefix + "certificate verify failed (self", 0), 0u) << reason;
  EXPECT_EQ(library_.tessoraNetLastErrorKind(), TESSORANET_ERROR_TLS);
}

TEST_F(Extensions, StatusAndReasonBelongToTheCallingThread) {
  ScriptedApi api({JsonReply("404 Not Found", "{}")});
  Configure(api.Environment());
  Call("CHARGE_DETAIL", "id=1");
  ASSERT_EQ(library_.tessoraNetLastStatus(), 404);

  int untouchedStatus = -1;
  std::string untouchedReason = "<not read>";
  int failedStatus = -1;
  std::string failedReason;
  std::thread fresh([&] {
    untouchedStatus = library_.tessoraNetLastStatus();
    untouchedReason = library_.LastError();
  });
  fresh.join();
  std::thread failing([&] {
    library_.configureService("client", "secret", ClosedEnvironment().c_str(), "endpoints.json",
                              "");
    library_.tessoraNetFree(library_.tessoraNet("CHARGE_DETAIL", "id=1", "", ""));
    failedStatus = library_.tessoraNetLastStatus();
    failedReason = library_.LastError();
  });
  failing.join();

  EXPECT_EQ(untouchedStatus, 0);
  EXPECT_EQ(untouchedReason, "");
  EXPECT_EQ(failedStatus, 0);
  EXPECT_EQ(failedReason.rfind("Connecting to 127.0.0.1:", 0), 0u) << failedReason;
  EXPECT_EQ(library_.tessoraNetLastStatus(), 404);
  EXPECT_EQ(library_.LastError(), "");
}

TEST_F(Extensions, AFailureBeforeSendingClearsTheStatus) {
  ScriptedApi api({JsonReply("200 OK", "{}")});
  Configure(api.Environment());
  Call("CHARGE_DETAIL", "id=1");
  ASSERT_EQ(library_.tessoraNetLastStatus(), 200);
  EXPECT_EQ(Try("NO_SUCH_OPERATION").first, 0);
  EXPECT_EQ(library_.tessoraNetLastStatus(), 0);
}

TEST_F(Extensions, LastHeaderGivesAHeaderOfTheLastAnswerInAnyLetterCase) {
  ScriptedApi api({JsonReply("402 Payment Required", "{}",
                             "Request-Id: req_7\r\nVary: Origin\r\nvary: Accept\r\n"),
                   JsonReply("200 OK", "{}")});
  Configure(api.Environment());
  EXPECT_EQ(library_.LastHeader("Request-Id"), "<absent>");  // no call yet
  Call("CHARGE_DETAIL", "id=1");
  EXPECT_EQ(library_.LastHeader("request-id"), "req_7");
  EXPECT_EQ(library_.LastHeader("REQUEST-ID"), "req_7");
  EXPECT_EQ(library_.LastHeader("Vary"), "Origin, Accept");
  EXPECT_EQ(library_.LastHeader("X-Missing"), "<absent>");
  EXPECT_EQ(library_.LastHeader(""), "<absent>");
  EXPECT_EQ(library_.LastHeader(nullptr), "<absent>");
  EXPECT_EQ(library_.tessoraNetLastHeader("Request-Id", nullptr), 0);

  // Each call replaces what the last answer was; a call without an answer leaves none.
  Call("CHARGE_DETAIL", "id=1");
  EXPECT_EQ(library_.LastHeader("Request-Id"), "<absent>");
  EXPECT_EQ(library_.LastHeader("Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(Try("NO_SUCH_OPERATION").first, 0);
  EXPECT_EQ(library_.LastHeader("Content-Type"), "<absent>");
}

TEST_F(Extensions, LastErrorKindTellsAnIncompleteFromAMalformedAnswer) {
  ScriptedServer cut(ScriptedServer::kTls, [](ServerConnection& connection) {
    connection.ReadHead();
    connection.Write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"partial\"");
    connection.Close();
  });
  Configure("127.0.0.1:" + std::to_string(cut.Port()) + "/");
  Call("CHARGE_DETAIL", "id=1");
  EXPECT_EQ(library_.tessoraNetLastStatus(), 200);
  EXPECT_EQ(library_.tessoraNetLastErrorKind(), TESSORANET_ERROR_INCOMPLETE_ANSWER);

  ScriptedApi token({JsonReply("200 OK", R"({"access_token":"a\nb","token_type":"Bearer",)"
                                         R"("expires_in":60})")});
  Configure(token.Environment());
  EXPECT_EQ(Try("AUTHORIZE").first, 1);
  EXPECT_EQ(library_.tessoraNetLastErrorKind(), TESSORANET_ERROR_MALFORMED_ANSWER);

  ScriptedApi api({JsonReply("200 OK", "{}")});
  Configure("other.example.com@" + api.Environment());
  EXPECT_EQ(Try("CHARGE_DETAIL", "id=1").first, 0);
  EXPECT_EQ(library_.tessoraNetLastErrorKind(), TESSORANET_ERROR_REFUSED_REQUEST);
}

TEST_F(Extensions, AnIpv6LiteralEnvironmentReachesAServerOnTheIpv6Loopback) {
  std::string head;
  ScriptedServer server(
      ScriptedServer::kTls,
      [&head](ServerConnection& connection) {
        head = connection.ReadHead();
        connection.Write(JsonReply("200 OK", R"({"id":"ch_6"})"));
      },
      "server-ipv6", ScriptedServer::Family::kIpv6);
  if (!server.Listening()) GTEST_SKIP() << "no IPv6 loopback here";
  const std::string hostValue = "[::1]:" + std::to_string(server.Port());
  Configure(hostValue + "/");
  EXPECT_EQ(Call("CHARGE_DETAIL", "id=1"), R"({"id":"ch_6"})") << library_.LastError();
  EXPECT_EQ(library_.tessoraNetLastStatus(), 200);
  // The certificate was checked against the address ::1, and the Host line names it.
  EXPECT_NE(head.find("\r\nHost: " + hostValue + "\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.rfind("GET /api.tessora.net/v1/charges/1 HTTP/1.1\r\n", 0), 0u) << head;
}

// A server on ::1 alone, reached by a name that has 127.0.0.1 too: nothing listens there at that
// port, so the call only succeeds through the IPv6 fallback. Needs a name this machine resolves to
// ::1 (hosts files in many containers have none).
TEST_F(Extensions, ANameWhoseIpv4AddressRefusesReachesTheServerOverIpv6) {
  const std::string name = NameForBothLoopbacks();
  if (name.empty()) GTEST_SKIP() << "no host name resolves to ::1 and 127.0.0.1 here";
  int reached = 0;
  std::string head;
  ScriptedServer server(
      ScriptedServer::kTls,
      [&](ServerConnection& connection) {
        ++reached;
        head = connection.ReadHead();
        connection.Write(JsonReply("200 OK", R"({"id":"ch_6"})"));
      },
      "server-ipv6", ScriptedServer::Family::kIpv6);
  if (!server.Listening()) GTEST_SKIP() << "no IPv6 loopback here";
  // Something else listening at 127.0.0.1 on that port would answer the IPv4 attempt.
  const platform::SocketHandle probe = platform::OpenTcpSocket();
  const int refused = platform::ConnectSocket(probe, *platform::ParseIpv4(u"127.0.0.1"),
                                              static_cast<std::uint16_t>(server.Port()), 2000);
  platform::CloseSocket(probe);
  if (refused == 0) GTEST_SKIP() << "127.0.0.1 has that port in use";
  const std::string hostValue = name + ":" + std::to_string(server.Port());
  Configure(hostValue + "/");
  EXPECT_EQ(Call("CHARGE_DETAIL", "id=1"), R"({"id":"ch_6"})") << library_.LastError();
  EXPECT_EQ(library_.tessoraNetLastStatus(), 200);
  EXPECT_EQ(reached, 1);
  EXPECT_NE(head.find("\r\nHost: " + hostValue + "\r\n"), std::string::npos) << head;
}

TEST_F(Extensions, AnIpv6LiteralWithNothingListeningSaysWhere) {
  int port = 0;
  {
    ScriptedServer gone(
        ScriptedServer::kPlain, [](ServerConnection&) {}, "server", ScriptedServer::Family::kIpv6);
    if (!gone.Listening()) GTEST_SKIP() << "no IPv6 loopback here";
    port = gone.Port();
  }
  Configure("[::1]:" + std::to_string(port) + "/");
  EXPECT_EQ(Call("CHARGE_DETAIL", "id=1"), "");
  EXPECT_EQ(library_.LastError(), "Connecting to [::1]:" + std::to_string(port) +
                                      " failed: Socket Error # 10061 Connection refused.");
  EXPECT_EQ(library_.tessoraNetLastErrorKind(), TESSORANET_ERROR_CONNECT);
}

}  // namespace
}  // namespace tessora::test
