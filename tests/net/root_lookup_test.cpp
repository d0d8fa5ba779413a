// The shared context's lookup of roots by subject: a root that only the lookup knows makes a chain
// verify, and a subject it has no root for finds nothing. The lookup's source is a fake here (the
// test CA, read from the file SSL_CERT_FILE names), while the context's other trust sources name
// an unrelated CA.
#include <gtest/gtest.h>

#include <stdlib.h>  // setenv / _putenv_s
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/openssl/binding.h"
#include "net/tls_channel.h"
#include "net/tls_context.h"
#include "platform/trust_store.h"
#include "support/failure_of.h"
#include "support/scripted_server.h"
#include "tls_test_util.h"

namespace tessora {
namespace {

using test::FailureOf;
using test::ScriptedServer;
using test::ServerConnection;

constexpr int kConnectTimeoutMs = 20000;

// The fake source: the test CA for a subject its encoding holds (its own: it is self-signed),
// nothing for any other; it records what it was asked.
struct FakeRoots {
  std::mutex lock;
  std::string caDer;
  std::vector<std::string> asked;
  int found = 0;
};
FakeRoots gRoots;

std::vector<std::string> FindRoots(std::string_view subject) {
  std::lock_guard<std::mutex> guard(gRoots.lock);
  gRoots.asked.emplace_back(subject);
  if (subject.empty() || gRoots.caDer.find(subject) == std::string::npos) return {};
  ++gRoots.found;
  return {gRoots.caDer};
}

void SetCertFile(const std::string& file) {
#if defined(_WIN32)
  _putenv_s("SSL_CERT_FILE", file.c_str());
#else
  setenv("SSL_CERT_FILE", file.c_str(), 1);
#endif
}

// Trust the planted CA alone through SSL_CERT_FILE and look roots up in the fake; afterwards the
// test CA file again and the system store, each with a new context.
class RootLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* file = std::getenv("SSL_CERT_FILE");
    ASSERT_NE(file, nullptr) << "run by CTest, with SSL_CERT_FILE set";
    certFile_ = file;
    {
      std::lock_guard<std::mutex> guard(gRoots.lock);
      gRoots.caDer = test::FirstCertificateDer(certFile_);
      gRoots.asked.clear();
      gRoots.found = 0;
    }
    ASSERT_FALSE(gRoots.caDer.empty()) << certFile_;
    ReleaseSharedTls();
    SetCertFile(test::TestPkiDir() + "/planted-ca.pem");
    SetRootSourceForTesting(&FindRoots);
    const openssl::Api* api = openssl::LoadOpenSsl();
    ASSERT_NE(api, nullptr);
    SharedClientContext(*api);
    const std::optional<TrustInUse> trust = SharedTrustInUse();
    ASSERT_TRUE(trust.has_value());
    if (!trust->systemLookup) GTEST_SKIP() << "the OpenSSL in use has no lookup methods (1.0)";
  }
  void TearDown() override {
    SetRootSourceForTesting(nullptr);
    if (!certFile_.empty()) SetCertFile(certFile_);
    ReleaseSharedTls();
  }

  std::string certFile_;
};

TEST_F(RootLookupTest, ARootFoundOnlyByTheLookupVerifiesTheChain) {
  ScriptedServer server(ScriptedServer::kTls, [](ServerConnection&) {});
  ASSERT_TRUE(server.Listening());
  TlsChannel channel;
  channel.SetServerName(u"127.0.0.1", server.Port());
  channel.Connect(u"127.0.0.1", server.Port(), kConnectTimeoutMs);
  EXPECT_EQ(channel.CurrentState(), TlsChannel::State::kRunning);
  const std::optional<TrustInUse> trust = SharedTrustInUse();
  ASSERT_TRUE(trust.has_value());
  EXPECT_TRUE(trust->systemLookup);
  EXPECT_EQ(trust->systemCertificates, 0);
  std::lock_guard<std::mutex> guard(gRoots.lock);
  EXPECT_GE(gRoots.found, 1);
}

TEST_F(RootLookupTest, ARootIsLookedUpOnceForTheProcess) {
  ScriptedServer server(ScriptedServer::kTls, [](ServerConnection&) {});
  ASSERT_TRUE(server.Listening());
  for (int i = 0; i < 2; ++i) {
    ForgetKeptSessionsForTesting();  // a full handshake each time
    TlsChannel channel;
    channel.SetServerName(u"127.0.0.1", server.Port());
    channel.Connect(u"127.0.0.1", server.Port(), kConnectTimeoutMs);
    EXPECT_EQ(channel.CurrentState(), TlsChannel::State::kRunning);
  }
  // The root found first stays in the trust store: the second chain finds it there.
  std::lock_guard<std::mutex> guard(gRoots.lock);
  EXPECT_EQ(gRoots.found, 1);
}

TEST_F(RootLookupTest, AnUnrelatedSubjectFindsNothing) {
  ScriptedServer server(
      ScriptedServer::kTls, [](ServerConnection&) {}, "selfsigned");
  ASSERT_TRUE(server.Listening());
  TlsChannel channel;
  channel.SetServerName(u"localhost", server.Port());
  const Error failure =
      FailureOf([&] { channel.Connect(u"127.0.0.1", server.Port(), kConnectTimeoutMs); });
  EXPECT_NE(failure.Message().find(u"certificate verify failed"), std::u16string::npos)
      << test::Utf8(failure.Message());
  std::lock_guard<std::mutex> guard(gRoots.lock);
  EXPECT_FALSE(gRoots.asked.empty());
  EXPECT_EQ(gRoots.found, 0);
}

// The platform's own source: a name no root has (a DER name of one common name) finds nothing,
// and neither does what is no name at all.
TEST(SystemRootsWithSubject, AnUnknownSubjectFindsNothing) {
  const std::string unknown(
      "\x30\x1f\x31\x1d\x30\x1b\x06\x03\x55\x04\x03\x0c\x14"
      "No Such Root, Tessor",
      33);
  EXPECT_TRUE(platform::SystemRootsWithSubject(unknown).empty());
  EXPECT_TRUE(platform::SystemRootsWithSubject("").empty());
  EXPECT_TRUE(platform::SystemRootsWithSubject(std::string(100000, '\x30')).empty());
}

}  // namespace
}  // namespace tessora
