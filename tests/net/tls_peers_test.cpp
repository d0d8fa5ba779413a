// The TLS channel against real servers on loopback: openssl s_server and nginx, started by the
// CTest fixture (tls_peers.sh), which writes their ports to the file TESSORA_TLS_PEERS.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

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

// Connects as the HTTP client does, for a request to https://localhost:<port>/.
void Connect(TlsChannel& channel, int port) {
  channel.SetURIToCheck(test::UrlFor("localhost", port));
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

INSTANTIATE_TEST_SUITE_P(Peers, UntrustedPeer,
                         ::testing::Values("nginx_selfsigned", "nginx_other", "nginx_expired"));

}  // namespace
}  // namespace tessora
