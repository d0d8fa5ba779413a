// The client's connection handling over an in-memory channel: blocks, keep-alive and reconnects,
// the protocol version of a POST, failures of connect, handshake and send, and what the traffic
// log records.
#include "http/client.h"

#include <gtest/gtest.h>

#include "support/time_stamp_formats.h"

#include "base/error.h"
#include "base/text.h"
#include "client_profile.h"
#include "http/traffic_log.h"
#include "platform/clock.h"
#include "platform/locale.h"
#include "support/temp_dir.h"

namespace tessora::test {
namespace {

using Events = std::vector<std::string>;

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

PeerScript Answer(const std::string& bytes, PeerEnd end = PeerEnd::kClose) {
  PeerScript script;
  script.tlsBlocks = {bytes};
  script.end = end;
  return script;
}

std::string Failure(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& error) {
    return error.what();
  }
  return "no failure";
}

TEST(HttpClient, BodyGoesOutInBlocksOf32768AfterTheHeadBlock) {
  ProfiledClient c = MakeClient();
  c.channel->AddConnection(Answer(kOk));
  const std::string body(70000, 'b');
  EXPECT_EQ(Put(*c.client, u"https://api.tessora.net/v1/x", body), u"ok");
  const std::vector<std::string>& blocks = c.channel->SentBlocks();
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_EQ(blocks[0].rfind("PUT /v1/x HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(blocks[0].find("Content-Length: 70000\r\n"), std::string::npos);
  EXPECT_EQ(blocks[1].size(), 32768u);
  EXPECT_EQ(blocks[2].size(), 32768u);
  EXPECT_EQ(blocks[3].size(), 70000u - 65536u);
}

TEST(HttpClient, LargeBodiesArriveWhole) {
  ProfiledClient c = MakeClient();
  std::string body;
  for (int i = 0; body.size() < 200000; ++i)
    body += std::to_string(i) + ",";
  c.channel->AddConnection(Answer("HTTP/1.1 200 OK\r\n\r\n" + body));
  EXPECT_EQ(TextToUtf8(Get(*c.client, u"https://api.tessora.net/v1/x")), body);
}

// A body's bound covers its size too: one beyond 64 MiB fails, and so does a chunked body whose
// lines around the chunks (long extensions, junk after the data) pass that size, however little
// data they carry.
TEST(HttpClient, BodiesAndTheirChunkFramingAreBoundedAt64MiB) {
  constexpr std::size_t kBound = std::size_t{64} * 1024 * 1024;
  {
    ProfiledClient c = MakeClient();
    c.channel->AddConnection(Answer("HTTP/1.1 200 OK\r\n\r\n" + std::string(kBound + 1, 'b')));
    EXPECT_EQ(Failure([&] { Get(*c.client, u"https://api.tessora.net/v1/x"); }),
              "Max body size exceeded.");
  }
  ProfiledClient c = MakeClient();
  const std::string chunk =
      "1;" + std::string(16000, 'e') + "\r\nd" + std::string(16000, 'j') + "\r\n";
  std::string reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  reply.reserve(reply.size() + (kBound / 32000 + 2) * chunk.size());
  while (reply.size() < kBound + chunk.size())
    reply += chunk;
  reply += "0\r\n\r\n";
  c.channel->AddConnection(Answer(reply));
  EXPECT_EQ(Failure([&] { Get(*c.client, u"https://api.tessora.net/v1/x"); }),
            "Max body size exceeded.");
}

TEST(HttpClient, PostKeepsTheConnectionOnlyWhenToldKeepAlive) {
  ProfiledClient c = MakeClient();
  c.channel->AddConnection(
      Answer("HTTP/1.1 200 OK\r\nConnection: Keep-Alive \r\nContent-Length: 2\r\n\r\nok"));
  Post(*c.client, u"https://api.tessora.net/v1/b", std::nullopt);
  EXPECT_TRUE(c.client->Connected());
  EXPECT_TRUE(c.client->Response().keepAlive);
}

struct KeepAliveCase {
  bool post;
  std::string headers;
  bool keepAlive;
};

class KeepAlive : public ::testing::TestWithParam<KeepAliveCase> {};

TEST_P(KeepAlive, FollowsTheVersionAndTheConnectionValues) {
  const KeepAliveCase& k = GetParam();
  ProfiledClient c = MakeClient();
  c.channel->AddConnection(Answer("HTTP/1.1 200 OK\r\n" + k.headers + "Content-Length: 0\r\n\r\n"));
  if (k.post) {
    Post(*c.client, u"https://api.tessora.net/v1/b", std::nullopt);
  } else {
    Get(*c.client, u"https://api.tessora.net/v1/b");
  }
  EXPECT_EQ(c.client->Response().keepAlive, k.keepAlive);
  EXPECT_EQ(c.client->Connected(), k.keepAlive);
}

INSTANTIATE_TEST_SUITE_P(
    Table, KeepAlive,
    ::testing::Values(
        KeepAliveCase{false, "", true}, KeepAliveCase{false, "Connection: close\r\n", false},
        KeepAliveCase{false, "Connection:  CLOSE \r\n", false},
        KeepAliveCase{false, "Proxy-Connection: close\r\n", false},
        KeepAliveCase{false, "Connection: close, upgrade\r\n", true},
        KeepAliveCase{true, "", false}, KeepAliveCase{true, "Connection: keep-alive\r\n", true},
        KeepAliveCase{true, "Proxy-Connection: keep-alive\r\n", true},
        KeepAliveCase{true, "Connection: close\r\nProxy-Connection: keep-alive\r\n", true},
        KeepAliveCase{true, "Connection: keep-alive, x\r\n", false}));

TEST(HttpClient, ConnectFailureGoesOnAndClosesTheChannel) {
  ProfiledClient c = MakeClient();
  PeerScript script;
  script.connectError = Error(ErrorKind::kPlain, u"Connect timed out.");
  c.channel->AddConnection(script);
  EXPECT_EQ(Failure([&] { Get(*c.client, u"https://api.tessora.net/v1/a"); }),
            "Connect timed out.");
  EXPECT_EQ(c.client->ResponseText(), u"");
  EXPECT_FALSE(c.client->Connected());
}

// Only the low 16 bits of the configured proxy port are the port.
TEST(HttpClient, TheProxyPortIsTakenFromItsLow16Bits) {
  ProfiledClient c = MakeClient({"proxy proxy.local:" + std::to_string(3128 + 65536)});
  PeerScript script;
  script.plainBlocks = {"HTTP/1.1 200 OK\r\n\r\n"};
  script.tlsBlocks = {kOk};
  c.channel->AddConnection(script);
  Get(*c.client, u"https://api.tessora.net/v1/a");
  ASSERT_FALSE(c.channel->Events().empty());
  EXPECT_EQ(c.channel->Events()[0], "connect proxy.local:3128 pass timeout=20000");
  ProfiledClient zero = MakeClient({"proxy proxy.local:65536"});
  EXPECT_EQ(Failure([&] { Get(*zero.client, u"https://api.tessora.net/v1/a"); }),
            "A Port is required");
}

TEST(HttpClient, HandshakeFailureThroughTheTunnelSendsNoApiRequest) {
  ProfiledClient c = MakeClient({"proxy proxy.local:3128"});
  PeerScript script;
  script.plainBlocks = {"HTTP/1.1 200 OK\r\n\r\n"};
  script.tlsBlocks = {kOk};
  script.handshakeError = Error(ErrorKind::kPlain, u"Error connecting with SSL.");
  c.channel->AddConnection(script);
  EXPECT_EQ(Failure([&] { Get(*c.client, u"https://api.tessora.net/v1/a"); }),
            "Error connecting with SSL.");
  EXPECT_EQ(c.channel->TlsSent(), "");
  EXPECT_EQ(c.channel->Events(),
            (Events{"connect proxy.local:3128 pass timeout=20000", "handshake", "close"}));
}

TEST(HttpClient, SendFailureIsTheSocketError) {
  ProfiledClient c = MakeClient();
  PeerScript script = Answer(kOk);
  script.sendErrorCode = 10054;
  c.channel->AddConnection(script);
  EXPECT_EQ(Failure([&] { Get(*c.client, u"https://api.tessora.net/v1/a"); }),
            "Socket Error # 10054\r\nConnection reset by peer.");
}

TEST(HttpClient, WithoutChannelTheExchangeFails) {
  HttpClient client;
  EXPECT_EQ(Failure([&] { Get(client, u"https://api.tessora.net/v1/a"); }),
            "No connection carrier has been set.");
}

TEST(HttpClient, TheServerNameIsTheHostAndPortItConnectsTo) {
  // One parse of the URL gives the connection, the certificate check and the Host line their
  // host: a "#" or "@" cannot make them differ.
  const struct {
    const char16_t* url;
    const char* host;
    int port;
    const char* hostLine;
  } kCases[] = {
      {u"https://api.tessora.net/v1/a?b#c", "api.tessora.net", 443, "Host: api.tessora.net"},
      {u"https://other.example#@127.0.0.1:8443/v1?q=1", "127.0.0.1", 8443, "Host: 127.0.0.1:8443"},
      {u"https://u:p@127.0.0.1:8443/v1?q=@x#y", "127.0.0.1", 8443, "Host: 127.0.0.1:8443"},
      {u"https://[::1]:4433/v1", "::1", 4433, "Host: [::1]:4433"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(TextToUtf8(c.url));
    ProfiledClient client = MakeClient();
    client.channel->AddConnection(Answer(kOk));
    Get(*client.client, c.url);
    EXPECT_EQ(TextToUtf8(client.channel->ServerHost()), c.host);
    EXPECT_EQ(client.channel->ServerPort(), c.port);
    ASSERT_FALSE(client.channel->Events().empty());
    EXPECT_EQ(client.channel->Events()[0],
              std::string("connect ") + c.host + ":" + std::to_string(c.port) + " timeout=20000");
    EXPECT_NE(client.channel->TlsSent().find(std::string("\r\n") + c.hostLine + "\r\n"),
              std::string::npos);
  }
}

TEST(HttpClient, CookieStoreIsCreatedByTheFirstResponse) {
  ProfiledClient c = MakeClient();
  EXPECT_EQ(c.client->CookieManager(), nullptr);
  c.channel->AddConnection(
      Answer("HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nContent-Length: 0\r\n\r\n"));
  Get(*c.client, u"https://api.tessora.net/v1/a");
  ASSERT_NE(c.client->CookieManager(), nullptr);
  EXPECT_EQ(c.client->CookieManager()->Count(), 1u);
}

TEST(HttpClient, CookiesOfAnAnswerGoWithTheNextRequest) {
  ProfiledClient c = MakeClient();
  c.channel->AddConnection(
      Answer("HTTP/1.1 200 OK\r\nSet-Cookie: s=1; Path=/\r\nContent-Length: 0\r\n\r\n"));
  c.channel->AddConnection(Answer(kOk));
  Get(*c.client, u"https://api.tessora.net/v1/a");
  Get(*c.client, u"https://api.tessora.net/v1/b");
  const std::string& sent = c.channel->TlsSent();
  EXPECT_EQ(sent.find("Cookie:"), sent.rfind("Cookie: s=1\r\n"));
}

// The traffic log of exchanges, through a real log file.
class ExchangeLog : public ::testing::Test {
 protected:
  static DateTime Clock() { return *EncodeDateTime({2025, 12, 8, 10, 35, 12, 0}); }
  void SetUp() override {
    UseDayMonthYearTimeStamps();
    platform::SetTestClock(&Clock);
    log_.SetFilename((dir_ / "Call Logs.txt").u16string());
    log_.SetActive(true);
  }
  void TearDown() override { platform::SetTestClock(nullptr); }
  std::string Contents() { return ReadFileBytes(dir_ / "Call Logs.txt"); }

  TempDir dir_;
  TrafficLog log_;
};

constexpr char kRequestRecord[] =
    "Sent 08/12/2025 10:35:12: GET /v1/a HTTP/1.1<EOL>Content-Type: application/json<EOL>"
    "api-sdk: delphi-3.1.0<EOL>Host: api.tessora.net<EOL>Accept: application/json<EOL>"
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:47.0)<EOL><EOL>\r\n";

TEST_F(ExchangeLog, KeptAliveExchangeIsDisconnectedOnlyAtRelease) {
  ProfiledClient c = MakeClient();
  c.client->SetLog(&log_);
  PeerScript script;
  script.tlsBlocks = {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n", "ok\r\n"};
  c.channel->AddConnection(script);
  Get(*c.client, u"https://api.tessora.net/v1/a");
  // Kept alive: still open, and not recorded as closed, until the client goes.
  EXPECT_TRUE(c.client->Connected());
  EXPECT_EQ(Contents().find("Disconnected"), std::string::npos);
  c.client.reset();
  EXPECT_EQ(Contents(), std::string("Stat Connected.\r\n") + kRequestRecord +
                            "Recv 08/12/2025 10:35:12: HTTP/1.1 200 OK<EOL>Content-Length: "
                            "4<EOL><EOL>\r\n"
                            "Recv 08/12/2025 10:35:12: ok<EOL>\r\n"
                            "Stat Disconnected.\r\n");
}

TEST_F(ExchangeLog, PostRecordsItsBodyAndDisconnectsAtTheEndAndAtRelease) {
  ProfiledClient c = MakeClient();
  c.client->SetLog(&log_);
  c.channel->AddConnection(Answer("HTTP/1.1 201 Created\r\n\r\n{}"));
  Post(*c.client, u"https://api.tessora.net/v1/p", std::string("{\"a\":\"\xC3\xA9\"}"));
  c.client.reset();
  EXPECT_EQ(Contents(),
            "Stat Connected.\r\n"
            "Sent 08/12/2025 10:35:12: POST /v1/p HTTP/1.0<EOL>Content-Type: application/json<EOL>"
            "Content-Length: 10<EOL>api-sdk: delphi-3.1.0<EOL>Host: api.tessora.net<EOL>"
            "Accept: application/json<EOL>"
            "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:47.0)<EOL><EOL>\r\n"
            "Sent 08/12/2025 10:35:12: {\"a\":\"\xC3\xA9\"}\r\n"
            "Recv 08/12/2025 10:35:12: HTTP/1.1 201 Created<EOL><EOL>{}\r\n"
            "Stat Disconnected.\r\n"    // the server closed the connection
            "Stat Disconnected.\r\n"    // the exchange ended without keep-alive
            "Stat Disconnected.\r\n");  // the client was released
}

TEST_F(ExchangeLog, FailedConnectIsDisconnectedWithoutConnected) {
  ProfiledClient c = MakeClient();
  c.client->SetLog(&log_);
  EXPECT_EQ(Failure([&] { Get(*c.client, u"https://api.tessora.net/v1/a"); }),
            "Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(Contents(), "Stat Disconnected.\r\nStat Disconnected.\r\n");
}

// Without a port no connection is attempted: only the exchange's end closes (and records), where a
// refused connect records its own close before that.
TEST_F(ExchangeLog, AMissingPortRecordsOnlyTheExchangesClose) {
  ProfiledClient c = MakeClient({"proxy proxy.local:0"});
  c.client->SetLog(&log_);
  EXPECT_EQ(Failure([&] { Get(*c.client, u"https://api.tessora.net/v1/a"); }),
            "A Port is required");
  EXPECT_EQ(Contents(), "Stat Disconnected.\r\n");
  EXPECT_TRUE(c.channel->Events().empty());
}

TEST_F(ExchangeLog, TunnelTrafficComesBeforeTheApiRequest) {
  ProfiledClient c = MakeClient({"proxy proxy.local:3128"});
  c.client->SetLog(&log_);
  PeerScript script;
  script.plainBlocks = {"HTTP/1.1 200 Connection established\r\n\r\n"};
  script.tlsBlocks = {kOk};
  c.channel->AddConnection(script);
  Get(*c.client, u"https://api.tessora.net/v1/a");
  EXPECT_EQ(Contents(),
            "Stat Connected.\r\n"
            "Sent 08/12/2025 10:35:12: CONNECT api.tessora.net:443 HTTP/1.1<EOL>"
            "Pragma: no-cache<EOL>Proxy-Connection: keep-alive<EOL>Host: api.tessora.net<EOL>"
            "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8<EOL>"
            "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:47.0)<EOL><EOL>\r\n"
            "Recv 08/12/2025 10:35:12: HTTP/1.1 200 Connection established<EOL><EOL>\r\n" +
                std::string(kRequestRecord) +
                "Recv 08/12/2025 10:35:12: HTTP/1.1 200 OK<EOL>Content-Length: 2<EOL><EOL>ok\r\n");
}

TEST_F(ExchangeLog, RefusedTunnelIsDisconnected) {
  ProfiledClient c = MakeClient({"proxy proxy.local:3128"});
  c.client->SetLog(&log_);
  PeerScript script;
  script.plainBlocks = {"HTTP/1.1 407 Proxy Authentication Required\r\n\r\n"};
  c.channel->AddConnection(script);
  EXPECT_EQ(Failure([&] { Get(*c.client, u"https://api.tessora.net/v1/a"); }),
            "Tunnel refused by the proxy: HTTP/1.1 407 Proxy Authentication Required");
  const std::string log = Contents();
  EXPECT_EQ(log.rfind("Stat Disconnected.\r\n"), log.size() - 20);
  EXPECT_EQ(log.find("GET /v1/a"), std::string::npos);
}

}  // namespace
}  // namespace tessora::test
