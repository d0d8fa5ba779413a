// The client context refuses a chain that holds a certificate the system distrusts, whichever
// place the certificate has in it, even though the trust store holds its root. The distrust comes
// from a fake here (certificates of the test PKI), and on Windows from the user's Disallowed
// store itself.
#include <gtest/gtest.h>

#if defined(_WIN32)
// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on
#endif

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/tls_channel.h"
#include "net/tls_context.h"
#include "platform/trust_store.h"
#include "support/scripted_server.h"
#include "tls_test_util.h"

namespace tessora {
namespace {

using test::ScriptedServer;
using test::ServerConnection;

constexpr int kConnectTimeoutMs = 20000;

std::string PkiDer(const std::string& name) {
  return test::FirstCertificateDer(test::TestPkiDir() + "/" + name + ".pem");
}

// The fake: the certificates it distrusts, and how often it was asked.
struct FakeDistrust {
  std::mutex lock;
  std::vector<std::string> distrusted;
  int asked = 0;
};
FakeDistrust gFake;

bool FakeDistrusts(std::string_view certificate) {
  std::lock_guard<std::mutex> guard(gFake.lock);
  ++gFake.asked;
  for (const std::string& der : gFake.distrusted) {
    if (der == certificate) return true;
  }
  return false;
}

// The failure of a full handshake with a new server of the test PKI's "distrusted" pair; none when
// it succeeded.
std::optional<Error> HandshakeWithTheDistrustedServer(bool keepCertificate) {
  ForgetKeptSessionsForTesting();
  ScriptedServer server(
      ScriptedServer::kTls, [](ServerConnection&) {}, "distrusted");
  EXPECT_TRUE(server.Listening());
  TlsChannel channel;
  channel.KeepPeerCertificate(keepCertificate);
  channel.SetServerName(u"127.0.0.1", server.Port());
  try {
    channel.Connect(u"127.0.0.1", server.Port(), kConnectTimeoutMs);
  } catch (const Error& failure) {
    return failure;
  }
  return std::nullopt;
}

void ExpectRejected(const std::optional<Error>& failure) {
  ASSERT_TRUE(failure.has_value()) << "the handshake succeeded";
  EXPECT_NE(failure->Message().find(u"certificate verify failed"), std::u16string::npos)
      << test::Utf8(failure->Message());
  EXPECT_EQ(failure->Detail(), u"certificate rejected");
}

class DistrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReleaseSharedTls();
    SetDistrustSourceForTesting(&FakeDistrusts);
  }
  void TearDown() override {
    SetDistrustSourceForTesting(nullptr);
    ReleaseSharedTls();
    std::lock_guard<std::mutex> guard(gFake.lock);
    gFake.distrusted.clear();
    gFake.asked = 0;
  }
};

TEST_F(DistrustTest, AChainWithADistrustedCertificateIsRefused) {
  struct Case {
    const char* distrusted;  // the test PKI's certificate the fake distrusts ("" none)
    bool refused;
  };
  const Case cases[] = {
      {"", false},
      {"distrusted", true},  // the server's own
      {"ca", true},          // the root the trust store holds
      {"other", false},      // a certificate the chain does not hold
  };
  for (const bool keepCertificate : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.distrusted) + (keepCertificate ? ", certificate kept" : ""));
      {
        std::lock_guard<std::mutex> guard(gFake.lock);
        gFake.distrusted.clear();
        if (*c.distrusted != '\0') gFake.distrusted.push_back(PkiDer(c.distrusted));
        gFake.asked = 0;
      }
      const std::optional<Error> failure = HandshakeWithTheDistrustedServer(keepCertificate);
      if (c.refused) {
        ExpectRejected(failure);
      } else {
        EXPECT_FALSE(failure.has_value()) << test::Utf8(failure->Message());
      }
      std::lock_guard<std::mutex> guard(gFake.lock);
      EXPECT_GE(gFake.asked, 1);  // each certificate that passed the check, at least the root
    }
  }
}

TEST_F(DistrustTest, AResumedSessionIsNotCheckedAgain) {
  ScriptedServer server(
      ScriptedServer::kTls, [](ServerConnection&) {}, "distrusted");
  ASSERT_TRUE(server.Listening());
  int asked[2] = {0, 0};
  for (int& count : asked) {
    TlsChannel channel;
    channel.SetServerName(u"127.0.0.1", server.Port());
    channel.Connect(u"127.0.0.1", server.Port(), kConnectTimeoutMs);
    std::lock_guard<std::mutex> guard(gFake.lock);
    count = std::exchange(gFake.asked, 0);
  }
  // The full handshake asked about its certificates, the resumed one about none.
  EXPECT_GE(asked[0], 2);
  EXPECT_EQ(asked[1], 0);
}

#if defined(_WIN32)

// Places a certificate in the user's Disallowed store for the test's length.
class ScopedDisallowed {
 public:
  explicit ScopedDisallowed(const std::string& der) : der_(der) {
    HCERTSTORE store = Open();
    if (store == nullptr) return;
    added_ = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                              reinterpret_cast<const BYTE*>(der_.data()),
                                              static_cast<DWORD>(der_.size()),
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    CertCloseStore(store, 0);
  }
  ~ScopedDisallowed() {
    HCERTSTORE store = Open();
    if (store == nullptr) return;
    PCCERT_CONTEXT certificate =
        CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()),
                                     static_cast<DWORD>(der_.size()));
    if (certificate != nullptr) {
      PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                        CERT_FIND_EXISTING, certificate, nullptr);
      if (found != nullptr) CertDeleteCertificateFromStore(found);  // frees `found`
      CertFreeCertificateContext(certificate);
    }
    CertCloseStore(store, 0);
  }
  ScopedDisallowed(const ScopedDisallowed&) = delete;
  ScopedDisallowed& operator=(const ScopedDisallowed&) = delete;

  bool Added() const { return added_; }

 private:
  // The store in the registry itself: a deletion through the system store (a collection of such
  // stores) is lost under Wine.
  static HCERTSTORE Open() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                         L"Disallowed");
  }

  std::string der_;
  bool added_ = false;
};

// The system's own distrust: a certificate in the user's Disallowed store. The stores are read
// when a context is made: a certificate placed there counts from the next context on. (One test:
// the tests of a run share the registry, and only this one places the certificate.)
TEST(SystemDistrust, ACertificateInTheUsersDisallowedStoreIsRefusedFromTheNextContext) {
  ReleaseSharedTls();
  const std::string distrusted = PkiDer("distrusted");
  ASSERT_FALSE(distrusted.empty());
  EXPECT_FALSE(HandshakeWithTheDistrustedServer(false).has_value());
  {
    ScopedDisallowed placed(distrusted);
    ASSERT_TRUE(placed.Added());
    ReleaseSharedTls();
    ExpectRejected(HandshakeWithTheDistrustedServer(false));
    EXPECT_TRUE(platform::SystemDistrusts(distrusted));
    EXPECT_FALSE(platform::SystemDistrusts(PkiDer("server")));
    EXPECT_FALSE(platform::SystemDistrusts(PkiDer("ca")));
    EXPECT_FALSE(platform::SystemDistrusts(""));
  }
  // Taken out again: the next context accepts it.
  ReleaseSharedTls();
  EXPECT_FALSE(HandshakeWithTheDistrustedServer(false).has_value());
  ReleaseSharedTls();
}

#endif

}  // namespace
}  // namespace tessora
