// Proxy answers that real proxies do not give on demand, from a scripted plain proxy on loopback:
// refusals, after which no API request may follow in clear, and the empty status line, after
// which the tunnel stands and TLS runs through it to the scripted TLS server.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>

#include "base/error.h"
#include "base/text.h"
#include "client_profile.h"
#include "e2e_util.h"
#include "platform/socket.h"
#include "support/scripted_server.h"

namespace tessora::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string ConnectHead(int port, const char* version) {
  return "CONNECT 127.0.0.1:" + std::to_string(port) + " HTTP/" + version +
         "\r\n"
         "Pragma: no-cache\r\n"
         "Proxy-Connection: keep-alive\r\n"
         "Host: 127.0.0.1:" +
         std::to_string(port) +
         "\r\n"
         "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
         "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:47.0)\r\n"
         "\r\n";
}

// Passes bytes both ways between the client's connection and the server at `port` until the
// server closes (at most ten seconds).
void Relay(ServerConnection& client, int port) {
  const platform::SocketHandle upstream = platform::OpenTcpSocket();
  if (platform::ConnectSocket(upstream, *platform::ParseIpv4(u"127.0.0.1"),
                              static_cast<std::uint16_t>(port), 5000) == 0) {
    char buffer[16384];
    const auto start = Clock::now();
    bool open = true;
    while (open && Clock::now() - start < std::chrono::seconds(10)) {
      const std::string fromClient = client.Read(sizeof buffer, 5);
      for (std::size_t sent = 0; sent < fromClient.size();) {
        const int n = platform::SocketSend(upstream, fromClient.data() + sent,
                                           static_cast<int>(fromClient.size() - sent));
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      while (open && platform::WaitReadable(upstream, 5)) {
        const int n = platform::SocketReceive(upstream, buffer, sizeof buffer);
        open = n > 0 && client.Write(std::string_view(buffer, static_cast<std::size_t>(n)));
      }
    }
  }
  platform::CloseSocket(upstream);
  client.Close();
}

struct Refusal {
  std::string answer;
  bool post;
  std::string message;
};

class ProxyRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(ProxyRefusal, SendsNothingAfterTheTunnelRequest) {
  std::mutex lock;
  std::string head, after;
  ScriptedServer proxy(ScriptedServer::kPlain, [&](ServerConnection& c) {
    std::string request = c.ReadHead();
    std::string rest;
    if (GetParam().answer.empty()) {
      c.Close();  // the proxy ends the connection without a word
    } else {
      c.Write(GetParam().answer);
      rest = c.ReadUntilClosed(5000);
    }
    std::lock_guard<std::mutex> guard(lock);
    head = std::move(request);
    after = std::move(rest);
  });
  ASSERT_TRUE(proxy.Listening());
  auto client = MakeTlsClient({"proxy 127.0.0.1:" + std::to_string(proxy.Port())});
  try {
    if (GetParam().post) {
      Post(*client, LocalUrl(9, "payments"), std::string("{\"amount\":1}"));
    } else {
      Get(*client, LocalUrl(9, "items"));
    }
    ADD_FAILURE() << "no failure";
  } catch (const Error& error) {
    EXPECT_EQ(TextToUtf8(error.Message()), GetParam().message);
  }
  EXPECT_EQ(client->ResponseText(), u"");
  EXPECT_FALSE(client->Connected());
  ASSERT_TRUE(proxy.WaitForFinished(1));
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(head, ConnectHead(9, GetParam().post ? "1.0" : "1.1"));
  EXPECT_EQ(after, "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProxyRefusal,
    ::testing::Values(
        Refusal{"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n", false,
                "Tunnel refused by the proxy: HTTP/1.1 403 Forbidden"},
        Refusal{"HTTP/1.1 407 Proxy Authentication Required\r\n"
                "Proxy-Authenticate: Basic realm=\"p\"\r\n\r\n",
                true, "Tunnel refused by the proxy: HTTP/1.1 407 Proxy Authentication Required"},
        Refusal{"HTTP/1.0 502 Bad Gateway\r\n\r\n<html>down</html>", true,
                "Tunnel refused by the proxy: HTTP/1.0 502 Bad Gateway"},
        Refusal{"", false, "Connection Closed Gracefully."}));

TEST(ScriptedProxy, EmptyStatusLineLetsTlsRunThroughTheTunnel) {
  std::mutex lock;
  std::string apiRequest, proxyRequest;
  ScriptedServer api(ScriptedServer::kTls, [&](ServerConnection& c) {
    std::string request = c.ReadHead();
    {
      std::lock_guard<std::mutex> guard(lock);
      apiRequest = std::move(request);
    }
    c.Write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    c.Close();
  });
  ScriptedServer proxy(ScriptedServer::kPlain, [&](ServerConnection& c) {
    std::string request = c.ReadHead();
    {
      std::lock_guard<std::mutex> guard(lock);
      proxyRequest = std::move(request);
    }
    c.Write("\r\n");
    Relay(c, api.Port());
  });
  ASSERT_TRUE(api.Listening() && proxy.Listening());
  auto client = MakeTlsClient({"proxy 127.0.0.1:" + std::to_string(proxy.Port())});
  EXPECT_EQ(Get(*client, LocalUrl(api.Port(), "items")), u"ok");
  EXPECT_EQ(client->ResponseText(), u"HTTP/1.1 200 OK");
  client.reset();
  ASSERT_TRUE(api.WaitForFinished(1));
  ASSERT_TRUE(proxy.WaitForFinished(1));
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(proxyRequest, ConnectHead(api.Port(), "1.1"));
  EXPECT_EQ(apiRequest.rfind("GET /api.tessora.net/v1/items HTTP/1.1\r\n", 0), 0u);
}

}  // namespace
}  // namespace tessora::test
