// The sandbox on the wire: TLS 1.2 only with a certificate a client can verify, HTTP/1.0 and
// HTTP/1.1 connections, and limits. Each test runs its own server on a system-chosen port.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "certificates.h"
#include "server.h"
#include "tls_client.h"

namespace tessora::sandbox {
namespace {

using test::BasicCredentials;
using test::TlsClient;

// Key generation takes a moment: one PKI serves every test in this process.
const TestPki& Pki() {
  static const TestPki* pki = new TestPki();
  return *pki;
}

class ServerTest : public ::testing::Test {
 protected:
  void StartServer(ServerSettings settings = {}) {
    server_ = std::make_unique<Server>(api_, Pki(), std::move(settings));
    server_->Start();
  }

  std::unique_ptr<TlsClient> Connect() {
    return std::make_unique<TlsClient>(server_->Port(), Pki().CaPem());
  }

  static std::string Request(const std::string& method, const std::string& route,
                             const std::string& version, const std::string& authorization,
                             const std::string& body = "", const std::string& extra = "") {
    std::string head = method + " /" TESSORA_API_HOST + route + " " + version +
                       "\r\nContent-Type: application/json\r\n";
    if (!body.empty()) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    if (!authorization.empty()) head += "Authorization: " + authorization + "\r\n";
    return head + "Host: 127.0.0.1\r\nAccept: application/json\r\n" + extra + "\r\n" + body;
  }

  std::string Token() {
    auto client = Connect();
    client->Send(Request("POST", "/v1/oauth/token", "HTTP/1.0",
                         BasicCredentials("sandbox-client", "sandbox-secret")));
    const auto reply = client->Receive();
    EXPECT_TRUE(reply.has_value());
    const std::size_t start = reply->body.find("sbx_");
    return reply->body.substr(start, 52);
  }

  PaymentApi api_{ApiSettings{}};
  std::unique_ptr<Server> server_;
};

TEST_F(ServerTest, TheCertificateVerifiesForTheLoopbackAddressAndLocalhost) {
  StartServer();
  EXPECT_EQ(Connect()->NegotiatedVersion(), TLS1_2_VERSION);
  EXPECT_NO_THROW(TlsClient(server_->Port(), Pki().CaPem(), "localhost"));
  EXPECT_THROW(TlsClient(server_->Port(), Pki().CaPem(), "127.0.0.2"), std::runtime_error);
  EXPECT_THROW(TlsClient(server_->Port(), Pki().CaPem(), "api.tessora.net"), std::runtime_error);
  TestPki other;  // a CA the server's certificate does not lead to
  EXPECT_THROW(TlsClient(server_->Port(), other.CaPem()), std::runtime_error);
}

TEST_F(ServerTest, OnlyTls12IsSpoken) {
  StartServer();
  EXPECT_THROW(TlsClient(server_->Port(), Pki().CaPem(), "127.0.0.1", TLS1_3_VERSION),
               std::runtime_error);
  EXPECT_THROW(TlsClient(server_->Port(), Pki().CaPem(), "127.0.0.1", TLS1_1_VERSION),
               std::runtime_error);
  EXPECT_NO_THROW(Connect());  // the refused handshakes did not disturb the server
}

TEST_F(ServerTest, AChargeSessionAsTheLibrarySendsIt) {
  StartServer();
  const std::string bearer = "Bearer " + Token();

  auto client = Connect();  // POST goes out as HTTP/1.0: one request, then the server closes
  client->Send(Request("POST", "/v1/charges", "HTTP/1.0", bearer,
                       R"({"amount": 1250, "currency": "EUR", "description": "Order 1042"})"));
  auto reply = client->Receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->status, 201);
  EXPECT_EQ(reply->Header("Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(reply->Header("Connection"), "close");
  EXPECT_NE(reply->body.find("\"id\":\"ch_00000001\""), std::string::npos);
  EXPECT_TRUE(client->PeerCloses());

  client = Connect();  // GET and DELETE go out as HTTP/1.1: the connection stays open
  client->Send(Request("GET", "/v1/charges/ch_00000001", "HTTP/1.1", bearer));
  reply = client->Receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->status, 200);
  EXPECT_EQ(reply->Header("Connection"), "keep-alive");
  client->Send(Request("GET", "/v1/charges?limit=1&offset=0", "HTTP/1.1", bearer) +
               Request("GET", "/v1/charges/ch_00000009", "HTTP/1.1", bearer));  // pipelined
  reply = client->Receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->status, 200);
  EXPECT_NE(reply->body.find("\"total\":1,\"limit\":1,\"offset\":0"), std::string::npos);
  reply = client->Receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->status, 404);
  client->Send(Request("DELETE", "/v1/charges/ch_00000001", "HTTP/1.1", bearer, "",
                       "Connection: close\r\n"));
  reply = client->Receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->status, 200);
  EXPECT_NE(reply->body.find("\"status\":\"canceled\""), std::string::npos);
  EXPECT_TRUE(client->PeerCloses());
}

TEST_F(ServerTest, Http10KeepAliveIsHonoured) {
  StartServer();
  auto client = Connect();
  for (int i = 0; i < 2; ++i) {
    client->Send(Request("GET", "/v1/charges", "HTTP/1.0", "", "", "Connection: keep-alive\r\n"));
    const auto reply = client->Receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->status, 401);
    EXPECT_EQ(reply->Header("Connection"), "keep-alive");
    EXPECT_EQ(reply->Header("WWW-Authenticate"), "Bearer realm=\"tessora-sandbox\"");
  }
}

TEST_F(ServerTest, RequestsOutsideTheApiPrefixAreNotFound) {
  StartServer();
  auto client = Connect();
  client->Send("GET /v1/charges HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  const auto reply = client->Receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->status, 404);
  EXPECT_NE(reply->body.find("127.0.0.1:PORT/"), std::string::npos);
}

TEST_F(ServerTest, OversizedAndMalformedRequestsAreAnsweredAndClosed) {
  StartServer();
  auto client = Connect();
  client->Send("GET / HTTP/1.1\r\nX-Big: " + std::string(20000, 'x') + "\r\n\r\n");
  auto reply = client->Receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->status, 431);
  EXPECT_TRUE(client->PeerCloses());

  client = Connect();
  client->Send("POST /x HTTP/1.1\r\nContent-Length: 2000000\r\n\r\n");
  reply = client->Receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->status, 413);
  EXPECT_TRUE(client->PeerCloses());

  client = Connect();
  client->Send("BREW /pot HTCPCP/1.0\r\n\r\n");
  reply = client->Receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->status, 400);
}

TEST_F(ServerTest, IdleAndStalledConnectionsAreClosed) {
  ServerSettings settings;
  settings.ioTimeoutMs = 300;
  StartServer(settings);
  auto idle = Connect();
  EXPECT_TRUE(idle->PeerCloses());
  auto stalled = Connect();
  stalled->Send("POST /api.tessora.net/v1/charges HTTP/1.1\r\nContent-Length: 10\r\n\r\n{");
  EXPECT_TRUE(stalled->PeerCloses());
}

TEST_F(ServerTest, ConnectionsBeyondTheLimitAreRefused) {
  ServerSettings settings;
  settings.maxConnections = 2;
  StartServer(settings);
  auto first = Connect();
  auto second = Connect();
  EXPECT_THROW(Connect(), std::runtime_error);
  first.reset();
  // The slot frees once the server has seen the first connection close.
  std::unique_ptr<TlsClient> third;
  for (int attempt = 0; attempt < 50 && !third; ++attempt) {
    try {
      third = Connect();
    } catch (const std::runtime_error&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  EXPECT_TRUE(third != nullptr);
}

TEST_F(ServerTest, StopEndsOpenConnections) {
  StartServer();
  auto client = Connect();
  const auto started = std::chrono::steady_clock::now();
  server_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_TRUE(client->PeerCloses());
}

}  // namespace
}  // namespace tessora::sandbox
