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

TEST(TlsSession, EveryChannelTakesTheProcesssOneContext) {
  ScriptedServer first(ScriptedServer::kTls, [](ServerConnection&) {});
  ScriptedServer second(ScriptedServer::kTls, [](ServerConnection&) {});
  ConnectOnce(first, "127.0.0.1");
  ConnectOnce(second, "localhost");
  ConnectOnce(first, "api.tessora.net");
  EXPECT_EQ(ClientContextsMade(), 1);
}

}  // namespace
}  // namespace tessora
