// End to end against real peers on loopback, started by the CTest fixtures: nginx over TLS 1.2
// with the test PKI, tinyproxy without authentication and tinyproxy with basic authentication.
#include <gtest/gtest.h>

#include <mutex>

#include "base/error.h"
#include "base/text.h"
#include "client_profile.h"
#include "e2e_util.h"
#include "http/compose.h"
#include "http/traffic_log.h"
#include "platform/socket.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/test_socket.h"

namespace tessora::test {
namespace {

class Peers : public ::testing::Test {
 protected:
  void SetUp() override {
    nginx_ = PeerPort("nginx");
    proxy_ = PeerPort("proxy");
    authProxy_ = PeerPort("authproxy");
    ASSERT_NE(nginx_, 0) << "nginx is not running";
    ASSERT_NE(proxy_, 0) << "tinyproxy is not running";
    ASSERT_NE(authProxy_, 0) << "the authenticating tinyproxy is not running";
    log_.SetFilename((dir_ / "Call Logs.txt").u16string());
    log_.SetLogTime(false);
    log_.SetActive(true);
  }

  std::string Log() { return ReadFileBytes(dir_ / "Call Logs.txt"); }
  std::string Proxy(int port) { return "proxy 127.0.0.1:" + std::to_string(port); }
  static std::string Failure(const std::function<void()>& call) {
    try {
      call();
    } catch (const Error& error) {
      return error.what();
    }
    return "no failure";
  }

  int nginx_ = 0, proxy_ = 0, authProxy_ = 0;
  TempDir dir_;
  TrafficLog log_;
};

TEST_F(Peers, NginxAnswerWithLengthKeepsTheConnection) {
  auto client = MakeTlsClient();
  EXPECT_EQ(Get(*client, LocalUrl(nginx_, "json")), u"{\"name\":\"Jos\u00E9\"}");
  EXPECT_EQ(client->ResponseText(), u"HTTP/1.1 200 OK");
  EXPECT_EQ(client->Response().contentLength, 16);
  EXPECT_EQ(client->Response().charSet, u"utf-8");
  EXPECT_TRUE(client->Response().keepAlive);
  EXPECT_TRUE(client->Connected());
}

TEST_F(Peers, NginxBareJsonIsDecodedByteByByte) {
  auto client = MakeTlsClient();
  EXPECT_EQ(Get(*client, LocalUrl(nginx_, "bare")), u"{\"name\":\"Jos\u00C3\u00A9\"}");
}

TEST_F(Peers, NginxChunkedAnswer) {
  auto client = MakeTlsClient();
  EXPECT_EQ(Get(*client, LocalUrl(nginx_, "chunked")), u"{\"chunked\":\"\u00E9\"}");
  EXPECT_EQ(client->Response().transferEncoding, u"chunked");
  EXPECT_TRUE(client->Connected());
}

TEST_F(Peers, NginxAnswersAPostAsHttp10AndCloses) {
  auto client = MakeTlsClient();
  EXPECT_EQ(Post(*client, LocalUrl(nginx_, "chunked"), std::string("{}")),
            u"{\"chunked\":\"\u00E9\"}");
  EXPECT_EQ(client->Response().transferEncoding, u"");
  EXPECT_EQ(client->Response().contentLength, -1);
  EXPECT_FALSE(client->Response().keepAlive);
  EXPECT_FALSE(client->Connected());
}

TEST_F(Peers, NginxPostWithLength) {
  auto client = MakeTlsClient();
  EXPECT_EQ(Post(*client, LocalUrl(nginx_, "created"), std::string(100000, 'x')),
            u"{\"created\":true}");
  EXPECT_EQ(client->ResponseCode(), 201);
  EXPECT_FALSE(client->Connected());
}

TEST_F(Peers, NginxErrorBodyIsTheResult) {
  auto client = MakeTlsClient();
  EXPECT_EQ(Delete(*client, LocalUrl(nginx_, "nothing/here")), u"{\"error\":\"not_found\"}");
  EXPECT_EQ(client->ResponseCode(), 404);
}

TEST_F(Peers, TrafficIsRecordedInPlain) {
  {
    auto client = MakeTlsClient();
    client->SetLog(&log_);
    Get(*client, LocalUrl(nginx_, "json"));
  }
  const std::string log = Log();
  EXPECT_EQ(log.rfind("Stat Connected.\r\nSent : GET /api.tessora.net/v1/json HTTP/1.1<EOL>", 0),
            0u);
  EXPECT_NE(log.find("\r\nRecv : HTTP/1.1 200 OK<EOL>"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 20), "Stat Disconnected.\r\n");
}

TEST_F(Peers, ThroughTheProxy) {
  auto client = MakeTlsClient({Proxy(proxy_)});
  client->SetLog(&log_);
  EXPECT_EQ(Get(*client, LocalUrl(nginx_, "json")), u"{\"name\":\"Jos\u00E9\"}");
  EXPECT_EQ(client->ResponseText(), u"HTTP/1.1 200 OK");
  const std::string log = Log();
  const std::string connect =
      "Sent : CONNECT 127.0.0.1:" + std::to_string(nginx_) + " HTTP/1.1<EOL>";
  EXPECT_EQ(log.rfind("Stat Connected.\r\n" + connect, 0), 0u);
  EXPECT_NE(log.find("Recv : HTTP/1.0 200 Connection established<EOL>"), std::string::npos);
  EXPECT_EQ(log.find("Proxy-Authorization"), std::string::npos);
}

TEST_F(Peers, PostThroughTheProxyOpensAnHttp10Tunnel) {
  auto client = MakeTlsClient({Proxy(proxy_)});
  client->SetLog(&log_);
  EXPECT_EQ(Post(*client, LocalUrl(nginx_, "created"), std::string("{}")), u"{\"created\":true}");
  EXPECT_NE(Log().find("CONNECT 127.0.0.1:" + std::to_string(nginx_) + " HTTP/1.0<EOL>"),
            std::string::npos);
}

TEST_F(Peers, AuthenticatingProxyWithCredentials) {
  auto client = MakeTlsClient(
      {Proxy(authProxy_), std::string("proxy-auth ") + kProxyUser + ":" + kProxyPassword});
  EXPECT_EQ(Get(*client, LocalUrl(nginx_, "chunked")), u"{\"chunked\":\"\u00E9\"}");
}

TEST_F(Peers, AuthenticatingProxyRefusesWrongCredentials) {
  auto client = MakeTlsClient({Proxy(authProxy_), "proxy-auth tessora:wrong"});
  client->SetLog(&log_);
  // tinyproxy answers wrong credentials with 401, missing ones with 407.
  EXPECT_EQ(Failure([&] { Get(*client, LocalUrl(nginx_, "json")); }),
            "Tunnel refused by the proxy: HTTP/1.0 401 Unauthorized");
  EXPECT_EQ(client->ResponseText(), u"");
  EXPECT_EQ(Log().find("GET /api.tessora.net"), std::string::npos);
}

TEST_F(Peers, AuthenticatingProxyRefusesMissingCredentials) {
  auto client = MakeTlsClient({Proxy(authProxy_)});
  EXPECT_EQ(Failure([&] { Post(*client, LocalUrl(nginx_, "created"), std::string("{}")); }),
            "Tunnel refused by the proxy: HTTP/1.0 407 Proxy Authentication Required");
}

TEST_F(Peers, ProxyRefusesAnUnreachableDestination) {
  int closedPort = 0;
  platform::CloseSocket(ListenOnLoopback(closedPort));
  auto client = MakeTlsClient({Proxy(proxy_)});
  EXPECT_EQ(Failure([&] { Get(*client, LocalUrl(closedPort, "json")); }),
            "Tunnel refused by the proxy: HTTP/1.1 500 Unable to connect");
}

TEST_F(Peers, ProxyCredentialsTravelInsideTheTunnelToo) {
  std::mutex lock;
  std::string received;
  ScriptedServer api(ScriptedServer::kTls, [&](ServerConnection& c) {
    std::string request = c.ReadHead();
    c.Write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    c.Close();
    std::lock_guard<std::mutex> guard(lock);
    received = std::move(request);
  });
  ASSERT_TRUE(api.Listening());
  auto client = MakeTlsClient({Proxy(authProxy_),
                               std::string("proxy-auth ") + kProxyUser + ":" + kProxyPassword,
                               "token Bearer t0k"});
  EXPECT_EQ(Get(*client, LocalUrl(api.Port(), "items?limit=1")), u"ok");
  client.reset();
  ASSERT_TRUE(api.WaitForFinished(1));
  const std::string host = "127.0.0.1:" + std::to_string(api.Port());
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(received,
            "GET /api.tessora.net/v1/items?limit=1 HTTP/1.1\r\n"
            "Content-Type: application/json\r\n"
            "Authorization: Bearer t0k\r\n"
            "api-sdk: delphi-3.1.0\r\n"
            "Host: " +
                host +
                "\r\n"
                "Accept: application/json\r\n"
                "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:47.0)\r\n"
                "Proxy-Authorization: " +
                TextToUtf8(BasicCredentials(AsciiToText(kProxyUser), AsciiToText(kProxyPassword))) +
                "\r\n\r\n");
}

}  // namespace
}  // namespace tessora::test
