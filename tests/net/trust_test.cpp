// Where the client context's trusted certificates come from, and how that reads in reports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "net/tls_channel.h"
#include "net/tls_context.h"
#include "support/scripted_server.h"
#include "tls_test_util.h"

namespace tessora {
namespace {

using test::HandshakeWith;
using test::ScriptedServer;
using test::ServerConnection;

TEST(TrustInUse, IsWhatTheContextTook) {
  ScriptedServer server(ScriptedServer::kTls, [](ServerConnection&) {});
  TlsChannel channel;
  channel.SetServerName(u"127.0.0.1", server.Port());
  channel.Connect(u"127.0.0.1", server.Port(), 20000);  // trusts the test CA (SSL_CERT_FILE)
  const std::optional<TrustInUse> trust = SharedTrustInUse();
  ASSERT_TRUE(trust.has_value());
  const char* certFile = std::getenv("SSL_CERT_FILE");
  ASSERT_NE(certFile, nullptr);
  EXPECT_EQ(trust->certFile, certFile);
  EXPECT_TRUE(trust->certFileLoaded);
#if defined(_WIN32)
  // The ROOT store and the file the process names; never OpenSSL's compiled-in folders.
  EXPECT_EQ(trust->systemStore, "Windows ROOT store");
  // OpenSSL 3 looks its roots up by issuer, adding none at first; OpenSSL 1.0, without lookup
  // methods, takes them all.
  if (trust->systemLookup) {
    EXPECT_EQ(trust->systemCertificates, 0);
  }
  EXPECT_FALSE(trust->libraryDefaults);
  EXPECT_EQ(trust->defaultFile, "");
  EXPECT_EQ(trust->defaultDir, "");
#else
  // OpenSSL's default verify paths, which take SSL_CERT_FILE themselves.
  EXPECT_EQ(trust->systemStore, "");
  EXPECT_TRUE(trust->libraryDefaults);
  EXPECT_NE(trust->defaultDir, "");
#endif
}

// The CA of a PEM file is trusted beside the other sources, for every later connection of the
// process; the file cannot change while the context it went into is in use.
TEST(TrustedCaFile, IsTrustedBesideTheOtherSources) {
  const std::string planted = test::TestPkiDir() + "/planted-ca.pem";
  ReleaseSharedTls();
  ASSERT_TRUE(SetTrustedCaFile(""));
  EXPECT_NE(HandshakeWith("planted-server"), u"");  // that CA is trusted nowhere else

  ReleaseSharedTls();
  ASSERT_TRUE(SetTrustedCaFile(planted));
  EXPECT_EQ(HandshakeWith("planted-server"), u"");
  EXPECT_EQ(HandshakeWith("server"), u"");  // SSL_CERT_FILE's CA still counts
  const std::optional<TrustInUse> trust = SharedTrustInUse();
  ASSERT_TRUE(trust.has_value());
  EXPECT_EQ(trust->caFile, planted);
  EXPECT_TRUE(trust->caFileLoaded);
  EXPECT_TRUE(trust->certFileLoaded);

  EXPECT_FALSE(SetTrustedCaFile(""));
  EXPECT_FALSE(SetTrustedCaFile(test::TestPkiDir() + "/ca.pem"));
  EXPECT_TRUE(SetTrustedCaFile(planted));
  EXPECT_EQ(SharedTrustInUse()->caFile, planted);

  ReleaseSharedTls();  // a new context may take another file
  EXPECT_TRUE(SetTrustedCaFile(""));
  EXPECT_NE(HandshakeWith("planted-server"), u"");
}

TEST(TrustedCaFile, ThatCannotBeReadTrustsNothingMore) {
  ReleaseSharedTls();
  ASSERT_TRUE(SetTrustedCaFile(test::TestPkiDir() + "/no-such-file.pem"));
  EXPECT_NE(HandshakeWith("planted-server"), u"");
  EXPECT_EQ(HandshakeWith("server"), u"");
  EXPECT_FALSE(SharedTrustInUse()->caFileLoaded);
  ReleaseSharedTls();
  EXPECT_TRUE(SetTrustedCaFile(""));
}

struct DescriptionCase {
  TrustInUse trust;
  const char* expected;
};

TEST(TrustInUse, ReadsAsOneLine) {
  TrustInUse windows;
  windows.systemStore = "Windows ROOT store";
  windows.systemCertificates = 149;
  TrustInUse windowsWithFile = windows;
  windowsWithFile.certFile = "C:\\ca.pem";
  windowsWithFile.certFileLoaded = true;
  TrustInUse windowsMissingFile = windowsWithFile;
  windowsMissingFile.certFileLoaded = false;
  windowsMissingFile.certDir = "C:\\certs";
  windowsMissingFile.certDirLoaded = true;
  TrustInUse oneRoot = windows;
  oneRoot.systemCertificates = 1;
  TrustInUse lookedUp;
  lookedUp.systemStore = "Windows ROOT store";
  lookedUp.systemLookup = true;
  TrustInUse lookedUpWithFile = lookedUp;
  lookedUpWithFile.certFile = "C:\\ca.pem";
  lookedUpWithFile.certFileLoaded = true;
  TrustInUse linux;
  linux.libraryDefaults = true;
  linux.defaultFile = "/usr/lib/ssl/cert.pem";
  linux.defaultDir = "/usr/lib/ssl/certs";
  TrustInUse linuxWithFile = linux;
  linuxWithFile.certFile = "/tmp/ca.pem";
  linuxWithFile.certFileLoaded = true;
  TrustInUse linuxWithBoth = linuxWithFile;
  linuxWithBoth.certDir = "/tmp/certs";
  linuxWithBoth.certDirLoaded = true;
  TrustInUse linuxWithCaFile = linux;
  linuxWithCaFile.caFile = "/etc/tessora/ca.pem";
  linuxWithCaFile.caFileLoaded = true;
  TrustInUse lookedUpWithUnreadableCaFile = lookedUp;
  lookedUpWithUnreadableCaFile.caFile = "C:\\missing.pem";
  const DescriptionCase cases[] = {
      {linuxWithCaFile,
       "OpenSSL default paths (/usr/lib/ssl/cert.pem, /usr/lib/ssl/certs) + "
       "tls.ca-file=/etc/tessora/ca.pem"},
      {lookedUpWithUnreadableCaFile,
       "Windows ROOT store (looked up by issuer) + tls.ca-file=C:\\missing.pem (not readable)"},
      {windows, "Windows ROOT store (149 certificates)"},
      {oneRoot, "Windows ROOT store (1 certificate)"},
      {lookedUp, "Windows ROOT store (looked up by issuer)"},
      {lookedUpWithFile, "Windows ROOT store (looked up by issuer) + SSL_CERT_FILE=C:\\ca.pem"},
      {windowsWithFile, "Windows ROOT store (149 certificates) + SSL_CERT_FILE=C:\\ca.pem"},
      {windowsMissingFile,
       "Windows ROOT store (149 certificates) + SSL_CERT_FILE=C:\\ca.pem (not readable) + "
       "SSL_CERT_DIR=C:\\certs"},
      {linux, "OpenSSL default paths (/usr/lib/ssl/cert.pem, /usr/lib/ssl/certs)"},
      {linuxWithFile, "OpenSSL default paths (/usr/lib/ssl/certs) + SSL_CERT_FILE=/tmp/ca.pem"},
      {linuxWithBoth,
       "OpenSSL default paths + SSL_CERT_FILE=/tmp/ca.pem + SSL_CERT_DIR=/tmp/certs"},
      {TrustInUse{}, "nothing (no trusted certificate: every server is refused)"},
  };
  for (const DescriptionCase& c : cases) {
    EXPECT_EQ(DescribeTrust(c.trust), c.expected);
  }
}

}  // namespace
}  // namespace tessora
