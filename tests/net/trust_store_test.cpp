// The trust store is read once per process, when the first channel needs the client context:
// the file SSL_CERT_FILE names at that moment decides, for the life of the process. CTest runs
// this program in two processes: with the test CA (TESSORA_EXPECTED_TRUST=trusted) and with a file
// without it (=untrusted).
#include <gtest/gtest.h>

#include <stdlib.h>  // setenv / _putenv_s
#include <cstdlib>

#include <string>

#include "net/tls_channel.h"
#include "net/tls_context.h"
#include "support/scripted_server.h"
#include "tls_test_util.h"

namespace tessora {
namespace {

using test::ScriptedServer;
using test::ServerConnection;

// Whether a new channel completes a handshake with a new server (nothing to resume) whose
// certificate the test CA issued.
bool HandshakeSucceeds(std::u16string& failure) {
  ScriptedServer server(ScriptedServer::kTls, [](ServerConnection&) {});
  TlsChannel channel;
  channel.SetServerName(u"localhost", server.Port());
  try {
    channel.Connect(u"127.0.0.1", server.Port(), 20000);
    return true;
  } catch (const Error& error) {
    failure = error.Message();
    return false;
  }
}

void PointTrustAt(const std::string& file) {
#if defined(_WIN32)
  _putenv_s("SSL_CERT_FILE", file.c_str());
#else
  setenv("SSL_CERT_FILE", file.c_str(), 1);
#endif
}

TEST(TrustStore, IsTheFileNamedWhenTheProcessMadeItsContext) {
  const char* expected = std::getenv("TESSORA_EXPECTED_TRUST");
  ASSERT_NE(expected, nullptr) << "run by CTest, with TESSORA_EXPECTED_TRUST set";
  const bool trusted = std::string(expected) == "trusted";
  std::u16string failure;
  EXPECT_EQ(HandshakeSucceeds(failure), trusted) << test::Utf8(failure);
  if (!trusted) {
    EXPECT_NE(failure.find(u"certificate verify failed"), std::u16string::npos)
        << test::Utf8(failure);
  }
  // A change within the process reaches nothing: the store was read once.
  PointTrustAt(test::TestPkiDir() + (trusted ? "/selfsigned.pem" : "/ca.pem"));
  failure.clear();
  EXPECT_EQ(HandshakeSucceeds(failure), trusted) << test::Utf8(failure);
  EXPECT_EQ(ClientContextsMade(), 1);
}

}  // namespace
}  // namespace tessora
