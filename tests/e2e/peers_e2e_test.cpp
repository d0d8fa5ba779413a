// The library through its exports against real servers started by CTest fixtures: nginx as the
// API server, openssl s_server and nginx servers for TLS versions and certificates.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "support/host_library.h"
#include "support/peers.h"
#include "support/temp_dir.h"

namespace tessora::test {
namespace {

constexpr char kEndpoints[] = R"({"ENDPOINTS": {
  "AUTHORIZE": {"route": "/v1/oauth/token", "method": "POST"},
  "JSON": {"route": "/v1/json", "method": "GET"},
  "BARE": {"route": "/v1/bare", "method": "GET"},
  "CHUNKED": {"route": "/v1/chunked", "method": "GET"},
  "CHUNKED_POST": {"route": "/v1/chunked", "method": "POST"},
  "CREATE": {"route": "/v1/created", "method": "POST"},
  "MOVED": {"route": "/v1/moved", "method": "GET"},
  "MISSING": {"route": "/v1/:what", "method": "DELETE"},
  "PAGE": {"route": "", "method": "GET"}
}})";

// The ports the TLS peers' fixture wrote as NAME=PORT lines.
std::map<std::string, int> TlsPeerPorts() {
  std::map<std::string, int> ports;
  std::ifstream in(TESSORA_TLS_PEERS);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) ports[line.substr(0, eq)] = std::stoi(line.substr(eq + 1));
  }
  return ports;
}

class RealPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(dir_ / "endpoints.json", kEndpoints);
    ASSERT_TRUE(library_.Loaded());
  }

  // Points the calling thread at the server on `port` of 127.0.0.1.
  void UseServer(int port) {
    ASSERT_NE(port, 0) << "the peer is not running";
    const std::string environment = "127.0.0.1:" + std::to_string(port) + "/";
    library_.configureService("client", "secret", environment.c_str(), "endpoints.json", "");
  }

  std::string Call(const char* operation, const char* parameters = "", const char* body = "",
                   const char* optionalParameters = "") {
    char* result = library_.tessoraNet(operation, parameters, optionalParameters, body);
    std::string text = result != nullptr ? result : "";
    FreeResultBuffer(result);
    return text;
  }

  std::string Token() {
    char* token = nullptr;
    library_.tessoraNetGetInstanceData(&token);
    std::string text = token != nullptr ? token : "";
    FreeResultBuffer(token);
    return text;
  }

  std::string Log() { return ReadFileBytes(dir_ / "Call Logs.txt"); }

  TempDir dir_;
  ScopedCurrentDir cwd_{dir_.Path()};
  HostLibrary library_;
};

// "José" as the host receives it: the ANSI code page of the test environment (1252 under Wine,
// UTF-8 on Linux).
#if defined(_WIN32)
constexpr char kJose[] = "Jos\xE9";
constexpr char kJoseByteByByte[] = "Jos\xC3\xA9";  // U+00C3 U+00A9 in code page 1252
#else
constexpr char kJose[] = "Jos\xC3\xA9";
constexpr char kJoseByteByByte[] = "Jos\xC3\x83\xC2\xA9";  // U+00C3 U+00A9 in UTF-8
#endif

TEST_F(RealPeers, NginxAnswersTheTokenRequestAndOperations) {
  UseServer(PeerPort("nginx"));
  EXPECT_EQ(Call("AUTHORIZE"), R"({"access_token":"nginx-token","token_type":"Bearer",)"
                               R"("expires_in":3600})");
  EXPECT_EQ(Token(), "nginx-token");
  EXPECT_EQ(library_.tessoraNetTokenExpired(), 0);
  // A body labelled UTF-8 is decoded as UTF-8; the same bytes labelled bare byte by byte.
  EXPECT_EQ(Call("JSON"), std::string(R"({"name":")") + kJose + R"("})");
  EXPECT_EQ(Call("BARE"), std::string(R"({"name":")") + kJoseByteByByte + R"("})");
  EXPECT_EQ(Call("CREATE", "", R"({"amount":1})"), R"({"created":true})");
  EXPECT_EQ(Call("MISSING", "what=nothing"), R"({"error":"not_found"})");
}

TEST_F(RealPeers, NginxBodiesWithoutLengthAreReadWhole) {
  UseServer(PeerPort("nginx"));
#if defined(_WIN32)
  const std::string expected = "{\"chunked\":\"\xE9\"}";
#else
  const std::string expected = "{\"chunked\":\"\xC3\xA9\"}";
#endif
  // HTTP/1.1: chunked. HTTP/1.0 (POST): read until nginx closes.
  EXPECT_EQ(Call("CHUNKED"), expected);
  EXPECT_EQ(Call("CHUNKED_POST", "", "{}"), expected);
}

TEST_F(RealPeers, ARedirectIsNotFollowed) {
  UseServer(PeerPort("nginx"));
  const std::string page = Call("MOVED");
  EXPECT_NE(page.find("302 Found"), std::string::npos) << page;
  // One request only: nothing went to the Location.
  const std::string log = Log();
  std::size_t sent = 0;
  for (std::size_t at = log.find("\r\nSent "); at != std::string::npos;
       at = log.find("\r\nSent ", at + 1)) {
    ++sent;
  }
  EXPECT_EQ(sent, 1u) << log;
}

TEST_F(RealPeers, NginxKeepsTheConnectionOfAGetAlive) {
  UseServer(PeerPort("nginx"));
  Call("JSON");
  Call("JSON");
  // The first client's connection stayed open after its answer and closed only when the second
  // call released it.
  const std::string log = Log();
  const std::size_t firstAnswer = log.find("Recv ");
  const std::size_t firstClose = log.find("Stat Disconnected.");
  const std::size_t secondOpen = log.find("Stat Connected.", firstAnswer);
  ASSERT_NE(firstClose, std::string::npos) << log;
  EXPECT_LT(firstAnswer, firstClose);
  EXPECT_LT(firstClose, secondOpen);
  EXPECT_EQ(log.find("Stat Disconnected.", firstClose + 1), std::string::npos) << log;
}

// Whether nginx resumed the TLS session of the call whose request carried `tag` in its query:
// "r" or "." from its access log (tests/support/peers.py), "" when no such line came (nginx writes
// it as the request ends, so it is waited for, briefly).
std::string ResumptionOfCall(const std::string& tag) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ifstream in(PeerFile("nginx", "access.log"));
    std::string line;
    while (std::getline(in, line)) {
      if (line.find("tag=" + tag + " ") != std::string::npos) return line.substr(0, 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return "";
}

// A tag no other call of this or another run carries.
std::string NewTag(const std::string& name) {
  static const std::string kRun = std::to_string(std::random_device{}());
  static std::atomic<int> counter{0};
  return name + "-" + kRun + "-" + std::to_string(++counter);
}

class Resumption : public RealPeers {
 protected:
  // Calls JSON with the tag in the query; true when the answer came.
  bool TaggedCall(const std::string& tag) {
    const std::string optional = "tag=" + tag;
    return Call("JSON", "", "", optional.c_str()) == std::string(R"({"name":")") + kJose + R"("})";
  }
};

TEST_F(Resumption, TheSecondCallToTheSameHostResumesTheSession) {
  UseServer(PeerPort("nginx"));
  const std::string first = NewTag("direct");
  const std::string second = NewTag("direct");
  ASSERT_TRUE(TaggedCall(first));
  ASSERT_TRUE(TaggedCall(second));
  // The first call of the process made a full handshake, which checked the certificate.
  EXPECT_EQ(ResumptionOfCall(first), ".");
  EXPECT_EQ(ResumptionOfCall(second), "r");
}

TEST_F(Resumption, TheSessionIsResumedInsideTheProxyTunnelToo) {
  UseServer(PeerPort("nginx"));
  library_.configureProxy("127.0.0.1", PeerPort("proxy"), "", "");
  const std::string first = NewTag("tunnel");
  const std::string second = NewTag("tunnel");
  ASSERT_TRUE(TaggedCall(first));
  ASSERT_TRUE(TaggedCall(second));
  EXPECT_EQ(ResumptionOfCall(first), ".");
  EXPECT_EQ(ResumptionOfCall(second), "r");
  // The same host name and port directly: the tunnel's session serves there as well.
  library_.configureProxy("", 0, "", "");
  const std::string direct = NewTag("tunnel");
  ASSERT_TRUE(TaggedCall(direct));
  EXPECT_EQ(ResumptionOfCall(direct), "r");
}

TEST_F(Resumption, AnotherHostNameOfTheSameServerGetsAFullHandshake) {
  const int port = PeerPort("nginx");
  UseServer(port);
  const std::string byAddress = NewTag("names");
  ASSERT_TRUE(TaggedCall(byAddress));
  const std::string environment = "localhost:" + std::to_string(port) + "/";
  library_.configureService("client", "secret", environment.c_str(), "endpoints.json", "");
  const std::string byName = NewTag("names");
  const std::string byNameAgain = NewTag("names");
  ASSERT_TRUE(TaggedCall(byName));
  ASSERT_TRUE(TaggedCall(byNameAgain));
  EXPECT_EQ(ResumptionOfCall(byAddress), ".");
  EXPECT_EQ(ResumptionOfCall(byName), ".");  // nginx would resume it: it was never offered
  EXPECT_EQ(ResumptionOfCall(byNameAgain), "r");
}

TEST_F(RealPeers, OpenSslServerWithTls12Answers) {
  UseServer(TlsPeerPorts()["s_server"]);
  // s_server -www answers any GET with an HTML status page.
  const std::string page = Call("PAGE");
  EXPECT_NE(page.find("<HTML>"), std::string::npos) << page;
}

struct RefusedPeer {
  const char* name;
  // Words the reason holds after "TLS handshake with 127.0.0.1:PORT failed: " (OpenSSL's own
  // words differ between its lines, so only a stable part), or none.
  const char* verdict;
};

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

class RefusedPeers : public RealPeers, public ::testing::WithParamInterface<RefusedPeer> {};

// A handshake that fails (old or newer protocol, a certificate the library does not trust or
// that names another host) is a transport failure: the call returns the empty text.
TEST_P(RefusedPeers, GiveTheEmptyText) {
  const int port = TlsPeerPorts()[GetParam().name];
  UseServer(port);
  EXPECT_EQ(Call("PAGE"), "");
  EXPECT_EQ(Log().find("Stat Connected."), std::string::npos);
  EXPECT_NE(Log().find("Stat Disconnected."), std::string::npos);

  // The extensions tell the host why.
  EXPECT_EQ(library_.tessoraNetLastStatus(), 0);
  const std::string reason = library_.LastError();
  const std::string prefix = "TLS handshake with 127.0.0.1:" + std::to_string(port) + " failed: ";
  EXPECT_EQ(reason.rfind(prefix, 0), 0u) << reason;
  EXPECT_GT(reason.size(), prefix.size()) << reason;
  if (*GetParam().verdict != '\0') {
    EXPECT_NE(Lower(reason).find(GetParam().verdict), std::string::npos) << reason;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedPeers,
    ::testing::Values(RefusedPeer{"s_server_tls10", ""}, RefusedPeer{"s_server_tls13", ""},
                      RefusedPeer{"nginx_tls13", ""},
                      RefusedPeer{"nginx_selfsigned", "certificate verify failed (self"},
                      RefusedPeer{"nginx_other", "certificate verify failed ("},
                      RefusedPeer{"nginx_expired",
                                  "certificate verify failed (certificate has expired)"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(RealPeers, TheAuthenticatingProxyRefusesWrongCredentials) {
  UseServer(PeerPort("nginx"));
  library_.configureProxy("127.0.0.1", PeerPort("authproxy"), kProxyUser, "wrong");
  EXPECT_EQ(Call("JSON"), "");
  EXPECT_EQ(library_.tessoraNetLastStatus(), 0);
  EXPECT_EQ(library_.LastError().rfind("The proxy refused the tunnel: HTTP/1.", 0), 0u)
      << library_.LastError();
  // (tinyproxy refuses wrong credentials with 401, other proxies with 407.)
  EXPECT_NE(library_.LastError().find(" 40"), std::string::npos) << library_.LastError();
  library_.configureProxy("127.0.0.1", PeerPort("authproxy"), kProxyUser, kProxyPassword);
  EXPECT_EQ(Call("JSON"), std::string(R"({"name":")") + kJose + R"("})");
  EXPECT_EQ(library_.tessoraNetLastStatus(), 200);
  EXPECT_EQ(library_.LastError(), "");
}

}  // namespace
}  // namespace tessora::test
