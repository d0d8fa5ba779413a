// The TLS channel against real servers on loopback: openssl s_server and nginx, started by the
// CTest fixture (tls_peers.sh), which writes their ports to the file TESSORA_TLS_PEERS.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "net/tls_channel.h"
#include "tls_test_util.h"

namespace tessora {
namespace {

using test::FailureOf;
using test::Utf8;

std::map<std::string, int> ReadPorts() {
  std::map<std::string, int> ports;
  std::ifstream in(TESSORA_TLS_PEERS);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos)
      ports[line.substr(0, equals)] = std::stoi(line.substr(equals + 1));
  }
  return ports;
}

int PortOf(const std::string& peer) {
  static const std::map<std::string, int> kPorts = ReadPorts();
  const auto found = kPorts.find(peer);
  return found == kPorts.end() ? 0 : found->second;
}

// Connects as the HTTP client does, for a request to https://<host>:<port>/.
void Connect(TlsChannel& channel, int port, const std::string& host = "localhost") {
  channel.SetServerName(AsciiToText(host), port);
  channel.Connect(u"127.0.0.1", port, 20000);
}

std::string Exchange(TlsChannel& channel, const std::string& request) {
  EXPECT_EQ(channel.Send(request.data(), static_cast<int>(request.size())),
            static_cast<int>(request.size()));
  std::string response;
  char buffer[4096];
  for (int reads = 0; reads < 1000; ++reads) {
    const int n = channel.Receive(buffer, sizeof buffer);
    if (n <= 0) break;
    response.append(buffer, static_cast<std::size_t>(n));
  }
  return response;
}

class PeerTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    port_ = PortOf(GetParam());
    ASSERT_NE(port_, 0) << "no port for " << GetParam() << " (is the tls_peers fixture running?)";
  }
  int port_ = 0;
};

class AcceptedPeer : public PeerTest {};

TEST_P(AcceptedPeer, Tls12HandshakeAndRequest) {
  TlsChannel channel;
  Connect(channel, port_);
  EXPECT_EQ(channel.CurrentState(), TlsChannel::State::kRunning);
  const std::string response =
      Exchange(channel, "GET / HTTP/1.0\r\nHost: localhost\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(response.rfind("HTTP/1.", 0), 0u) << response;
  EXPECT_NE(response.find(" 200 "), std::string::npos) << response;
}

INSTANTIATE_TEST_SUITE_P(Peers, AcceptedPeer, ::testing::Values("s_server", "nginx"));

class RefusedPeer : public PeerTest {};

// Servers that speak only another protocol version, or show a certificate that is untrusted,
// expired or for another host: the handshake fails with the TLS library's reason.
TEST_P(RefusedPeer, HandshakeFailsWithTheLibrarysReason) {
  TlsChannel channel;
  const Error failure = FailureOf([&] { Connect(channel, port_); });
  const std::u16string prefix = u"Error connecting with SSL.\r\n";
  RecordProperty("message", Utf8(failure.Message()));
  ASSERT_TRUE(test::StartsWith(failure.Message(), prefix)) << Utf8(failure.Message());
  EXPECT_GT(failure.Message().size(), prefix.size() + 10) << Utf8(failure.Message());
  EXPECT_FALSE(channel.Connected());
}

INSTANTIATE_TEST_SUITE_P(Peers, RefusedPeer,
                         ::testing::Values("s_server_tls10", "s_server_tls13", "nginx_tls13",
                                           "nginx_selfsigned", "nginx_other", "nginx_expired"));

class UntrustedPeer : public PeerTest {};

TEST_P(UntrustedPeer, CertificateVerificationFails) {
  TlsChannel channel;
  const Error failure = FailureOf([&] { Connect(channel, port_); });
  EXPECT_NE(failure.Message().find(u"certificate verify failed"), std::u16string::npos)
      << Utf8(failure.Message());
}

// For diagnosis, the server's certificate is kept also when the check refused it.
TEST_P(UntrustedPeer, KeptCertificateOfARefusedServer) {
  TlsChannel channel;
  channel.KeepPeerCertificate(true);
  FailureOf([&] { Connect(channel, port_); });
  // A DER SEQUENCE with a length of two bytes, as every certificate of the test PKI has.
  ASSERT_GT(channel.PeerCertificate().size(), 100u);
  EXPECT_EQ(channel.PeerCertificate().substr(0, 2), std::string("\x30\x82"));
}

TEST_P(UntrustedPeer, NoCertificateKeptByDefault) {
  TlsChannel channel;
  FailureOf([&] { Connect(channel, port_); });
  EXPECT_TRUE(channel.PeerCertificate().empty());
}

INSTANTIATE_TEST_SUITE_P(Peers, UntrustedPeer,
                         ::testing::Values("nginx_selfsigned", "nginx_other", "nginx_expired"));

TEST(KeptCertificate, AnAcceptedServersCertificateOutlivesTheConnection) {
  const int port = PortOf("nginx");
  ASSERT_NE(port, 0);
  TlsChannel channel;
  channel.KeepPeerCertificate(true);
  Connect(channel, port);
  const std::string first = channel.PeerCertificate();
  EXPECT_GT(first.size(), 100u);
  channel.Close();
  EXPECT_EQ(channel.PeerCertificate(), first);  // it outlives the connection
}

// The nginx servers of the session tests (tls_peers.sh) log a line per request: "r" when the
// session was resumed, "." when not, then the server name and the path. nginx_resume and
// nginx_resume_twin would each resume the other's sessions; nginx_noresume resumes none.
class Resumption : public ::testing::Test {
 protected:
  // One connection for a request to https://<host>:<port of peer>/, with a GET of a path no other
  // request carries; returns the path, or "" when the answer did not come.
  std::string Request(const std::string& peer, const std::string& host = "localhost") {
    static const std::string kRun = std::to_string(std::random_device{}());
    static std::atomic<int> counter{0};
    const std::string path = "/" + kRun + "-" + std::to_string(++counter);
    const int port = PortOf(peer);
    EXPECT_NE(port, 0) << "no port for " << peer;
    TlsChannel channel;
    Connect(channel, port, host);
    const std::string response = Exchange(
        channel, "GET " + path + " HTTP/1.0\r\nHost: " + host + "\r\nConnection: close\r\n\r\n");
    return response.find(" 200 ") != std::string::npos ? path : "";
  }

  // "r" or "." for the request of `path` in the log of `peer`, "" when nginx wrote no line for it
  // (it writes the line as the request ends, so it is waited for, briefly).
  static std::string Resumed(const std::string& peer, const std::string& path) {
    std::string file = TESSORA_TLS_PEERS;
    file = file.substr(0, file.find_last_of('/')) + "/nginx/logs/" + peer + ".log";
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::ifstream in(file);
      std::string line;
      while (std::getline(in, line)) {
        if (line.size() > path.size() &&
            line.compare(line.size() - path.size(), path.size(), path) == 0 &&
            line[line.size() - path.size() - 1] == ' ') {
          return line.substr(0, 1);
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "";
  }
};

TEST_F(Resumption, TheSecondConnectionToTheSameServerResumes) {
  const std::string first = Request("nginx_resume");
  const std::string second = Request("nginx_resume");
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(Resumed("nginx_resume", first), ".");
  EXPECT_EQ(Resumed("nginx_resume", second), "r");
}

TEST_F(Resumption, AnotherHostNameIsNeverOfferedTheSession) {
  const std::string byName = Request("nginx_resume", "localhost");
  const std::string byAddress = Request("nginx_resume", "127.0.0.1");
  const std::string byNameAgain = Request("nginx_resume", "localhost");
  EXPECT_EQ(Resumed("nginx_resume", byName), ".");
  EXPECT_EQ(Resumed("nginx_resume", byAddress), ".");
  EXPECT_EQ(Resumed("nginx_resume", byNameAgain), "r");
}

TEST_F(Resumption, AnotherPortIsNeverOfferedTheSession) {
  const std::string first = Request("nginx_resume");
  // The twin would resume that session: it shares the ticket key and the session cache.
  const std::string twin = Request("nginx_resume_twin");
  const std::string twinAgain = Request("nginx_resume_twin");
  const std::string firstAgain = Request("nginx_resume");
  EXPECT_EQ(Resumed("nginx_resume", first), ".");
  EXPECT_EQ(Resumed("nginx_resume_twin", twin), ".");
  EXPECT_EQ(Resumed("nginx_resume_twin", twinAgain), "r");
  EXPECT_EQ(Resumed("nginx_resume", firstAgain), "r");
}

TEST_F(Resumption, AServerWithoutTicketsOrSessionIdsStillAnswers) {
  for (int i = 0; i < 3; ++i) {
    const std::string path = Request("nginx_noresume");
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(Resumed("nginx_noresume", path), ".");
  }
}

// A server whose certificate fails the check leaves no session behind: every attempt fails alike.
TEST_F(Resumption, AFailedFirstHandshakeKeepsNothing) {
  for (int i = 0; i < 2; ++i) {
    TlsChannel channel;
    const Error failure =
        FailureOf([&] { Connect(channel, PortOf("nginx_resume"), "api.tessora.net.example"); });
    EXPECT_NE(failure.Message().find(u"certificate verify failed"), std::u16string::npos)
        << Utf8(failure.Message());
  }
}

}  // namespace
}  // namespace tessora
