// The client context every channel shares and the sessions it resumes, against the in-process
// scripted server (the library's own OpenSSL on both ends: the 1.0.2n DLLs under Wine). The
// server reports whether each handshake resumed a session.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "net/tls_channel.h"
#include "net/tls_context.h"
#include "support/scripted_server.h"
#include "tls_test_util.h"

namespace tessora {
namespace {

using test::FailureOf;
using test::ScriptedServer;
using test::ServerConnection;
using test::Utf8;

constexpr int kConnectTimeoutMs = 20000;

// Whether the server resumed a session, per connection in the order they were handled.
class ResumptionRecord {
 public:
  void Add(bool resumed) {
    std::lock_guard<std::mutex> guard(lock_);
    resumed_.push_back(resumed);
  }
  std::vector<bool> Resumed() {
    std::lock_guard<std::mutex> guard(lock_);
    return resumed_;
  }

 private:
  std::mutex lock_;
  std::vector<bool> resumed_;
};

// One connection for a request to https://host:port/..., closed again once the server is done.
void ConnectOnce(ScriptedServer& server, const std::string& host) {
  TlsChannel channel;
  channel.SetServerName(AsciiToText(host), server.Port());
  channel.Connect(u"127.0.0.1", server.Port(), kConnectTimeoutMs);
  EXPECT_EQ(channel.CurrentState(), TlsChannel::State::kRunning);
  channel.Close();
  ASSERT_TRUE(server.WaitForFinished(server.Connections()));
}

// The store keeps kMaxKeptSessions sessions; one more pushes out the one used least recently, not
// one that was just offered. (Each server name of the wildcard certificate is a server of its own.)
TEST(TlsSession, TheSessionUsedLeastRecentlyGoesFirst) {
  ReleaseSharedTls();
  ScriptedServer server(
      ScriptedServer::kTls, [](ServerConnection&) {}, "wildcard");
  ASSERT_TRUE(server.Listening());
  const auto name = [](std::size_t i) { return "h" + std::to_string(i) + ".tessora.test"; };
  for (std::size_t i = 0; i < kMaxKeptSessions; ++i)
    ConnectOnce(server, name(i));
  ConnectOnce(server, name(0));  // h0 is now the most recently used
  ConnectOnce(server, name(kMaxKeptSessions));
  EXPECT_TRUE(HasKeptSession(AsciiToText(name(0)), server.Port()));
  EXPECT_FALSE(HasKeptSession(AsciiToText(name(1)), server.Port()));
  EXPECT_TRUE(HasKeptSession(AsciiToText(name(2)), server.Port()));
  EXPECT_TRUE(HasKeptSession(AsciiToText(name(kMaxKeptSessions)), server.Port()));
  std::size_t kept = 0;
  for (std::size_t i = 0; i <= kMaxKeptSessions; ++i)
    kept += HasKeptSession(AsciiToText(name(i)), server.Port()) ? 1 : 0;
  EXPECT_EQ(kept, kMaxKeptSessions);
  ReleaseSharedTls();
}

TEST(TlsSession, SecondConnectionToTheSameServerResumes) {
  ResumptionRecord record;
  ScriptedServer server(ScriptedServer::kTls,
                        [&](ServerConnection& c) { record.Add(c.Resumed()); });
  ASSERT_TRUE(server.Listening());
  ConnectOnce(server, "localhost");
  EXPECT_TRUE(HasKeptSession(u"localhost", server.Port()));
  ConnectOnce(server, "localhost");
  ConnectOnce(server, "localhost");
  EXPECT_EQ(record.Resumed(), (std::vector<bool>{false, true, true}));
}

TEST(TlsSession, AnotherHostNameIsNeverOfferedTheSession) {
  ResumptionRecord record;
  ScriptedServer server(ScriptedServer::kTls,
                        [&](ServerConnection& c) { record.Add(c.Resumed()); });
  ConnectOnce(server, "localhost");
  // The same server, which would resume the session, under another name of its certificate.
  ConnectOnce(server, "127.0.0.1");
  ConnectOnce(server, "api.tessora.net");
  ConnectOnce(server, "localhost");
  ConnectOnce(server, "127.0.0.1");
  EXPECT_EQ(record.Resumed(), (std::vector<bool>{false, false, false, true, true}));
}

// The server forgot the session (a context of its own) and shows a certificate the client does
// not trust: the full handshake checks it.
TEST(TlsSession, DeclinedSessionGetsAFullHandshakeWithEveryCheck) {
  std::atomic<int> connections{0};
  ResumptionRecord record;
  ScriptedServer server(ScriptedServer::kPlain, [&](ServerConnection& c) {
    const bool started = connections++ == 0 ? c.StartTls() : c.StartTls("selfsigned");
    record.Add(started && c.Resumed());
  });
  ConnectOnce(server, "localhost");
  ASSERT_TRUE(HasKeptSession(u"localhost", server.Port()));
  TlsChannel channel;
  channel.SetServerName(u"localhost", server.Port());
  const Error failure =
      FailureOf([&] { channel.Connect(u"127.0.0.1", server.Port(), kConnectTimeoutMs); });
  EXPECT_NE(failure.Message().find(u"certificate verify failed"), std::u16string::npos)
      << Utf8(failure.Message());
  EXPECT_FALSE(channel.Connected());
  ASSERT_TRUE(server.WaitForFinished(2));
  EXPECT_EQ(record.Resumed(), (std::vector<bool>{false, false}));
  EXPECT_FALSE(HasKeptSession(u"localhost", server.Port()));
}

TEST(TlsSession, FailedHandshakeDropsTheSession) {
  std::atomic<int> connections{0};
  ResumptionRecord record;
  ScriptedServer server(ScriptedServer::kPlain, [&](ServerConnection& c) {
    if (connections++ != 2) {
      record.Add(c.StartTls() && c.Resumed());
      return;
    }
    // The whole client hello is read, then the connection ends in the middle of the handshake.
    const std::string header = c.Read(5);
    if (header.size() != 5) return;
    c.Read(static_cast<unsigned char>(header[3]) * 256u + static_cast<unsigned char>(header[4]));
    c.CloseWithoutAlert();
  });
  ConnectOnce(server, "localhost");
  ConnectOnce(server, "localhost");
  TlsChannel channel;
  channel.SetServerName(u"localhost", server.Port());
  const Error failure =
      FailureOf([&] { channel.Connect(u"127.0.0.1", server.Port(), kConnectTimeoutMs); });
  EXPECT_EQ(failure.Message(),
            u"Error connecting with SSL.\r\nEOF was observed that violates the protocol");
  ASSERT_TRUE(server.WaitForFinished(3));
  EXPECT_FALSE(HasKeptSession(u"localhost", server.Port()));
  // The server would resume the session (it did on the second connection); it is not offered.
  ConnectOnce(server, "localhost");
  EXPECT_EQ(record.Resumed(), (std::vector<bool>{false, true, false}));
}

// A connection that ends in a TLS failure in the middle of the answer (a record that does not
// decrypt) leaves no session to resume; one that the server merely closes keeps it.
TEST(TlsSession, AConnectionThatFailsInTlsDropsTheSession) {
  std::atomic<int> connections{0};
  ResumptionRecord record;
  ScriptedServer server(ScriptedServer::kTls, [&](ServerConnection& c) {
    record.Add(c.Resumed());
    if (connections++ != 1) return;
    c.Write("HTTP/1.1 200 OK\r\n");
    c.WriteBeneathTls(std::string("\x17\x03\x03\x00\x20", 5) + std::string(32, 'x'));
    c.Hang(2000);
  });
  ConnectOnce(server, "localhost");
  {
    TlsChannel channel;
    channel.SetServerName(u"localhost", server.Port());
    channel.Connect(u"127.0.0.1", server.Port(), kConnectTimeoutMs);
    char buffer[256];
    int received = 0;
    for (int reads = 0; reads < 4; ++reads) {
      received = channel.Receive(buffer, sizeof buffer);
      if (received <= 0) break;
    }
    EXPECT_LT(received, 0);
    EXPECT_FALSE(FailureOf([&] { channel.CheckError(received); }).Message().empty());
    channel.Close();
  }
  ASSERT_TRUE(server.WaitForFinished(2));
  EXPECT_FALSE(HasKeptSession(u"localhost", server.Port()));
  ConnectOnce(server, "localhost");
  ConnectOnce(server, "localhost");
  EXPECT_EQ(record.Resumed(), (std::vector<bool>{false, true, false, true}));
}

TEST(TlsSession, EveryChannelTakesTheProcesssOneContext) {
  ScriptedServer first(ScriptedServer::kTls, [](ServerConnection&) {});
  ScriptedServer second(ScriptedServer::kTls, [](ServerConnection&) {});
  ConnectOnce(first, "127.0.0.1");
  const int made = ClientContextsMade();  // the first (made now, or by an earlier test)
  ConnectOnce(second, "localhost");
  ConnectOnce(first, "api.tessora.net");
  EXPECT_EQ(ClientContextsMade(), made);
}

}  // namespace
}  // namespace tessora
