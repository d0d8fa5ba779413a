// Runs the wire cases of cases/*.txt through the HTTP client on an in-memory channel.
#include <gtest/gtest.h>

#include "base/error.h"
#include "base/text.h"
#include "client_profile.h"
#include "wire_case.h"

namespace tessora::test {
namespace {

PeerEnd EndOf(const std::string& end, int& code) {
  code = 0;
  if (end == "close") return PeerEnd::Close;
  if (end == "silent") return PeerEnd::Silent;
  code = std::stoi(end);
  return PeerEnd::Error;
}

// Control characters shown as escapes, so that a difference in the bytes can be read.
std::string Visible(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n\n";
    } else if (b < 0x20 || b >= 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

class WireCaseTest : public ::testing::TestWithParam<WireCase> {};

TEST_P(WireCaseTest, Exchange) {
  // (No SCOPED_TRACE: on Windows it starts a thread of GoogleTest's, and Wine may crash when a
  // process ends while such a thread is still starting. A failure names the case's file and line.)
  const WireCase& wire = GetParam();
  ProfiledClient profiled = MakeClient(wire.Setup);
  THttpClient& client = *profiled.Client;

  PeerScript script;
  if (wire.ProxyReply) {
    script.PlainBlocks = SplitBlocks(wire.ProxyReply->Bytes, wire.ProxyReply->Split);
  }
  script.TlsBlocks = SplitBlocks(wire.Reply.Bytes, wire.Reply.Split);
  script.End = EndOf(wire.Reply.End, script.EndCode);
  if (wire.ProxyReply && wire.Reply.Bytes.empty()) {
    script.End = EndOf(wire.ProxyReply->End, script.EndCode);
  }
  profiled.Channel->AddConnection(script);

  const std::u16string url = Utf8ToText(wire.Url);
  const WireOutcome outcome = CallWire(client, wire, url);

  if (wire.ProxyRequest) {
    EXPECT_EQ(Visible(profiled.Channel->PlainSent()), Visible(*wire.ProxyRequest));
  } else if (!wire.ProxyReply) {
    EXPECT_EQ(Visible(profiled.Channel->PlainSent()), "");
  }
  if (wire.Request) {
    EXPECT_EQ(Visible(profiled.Channel->TlsSent()), Visible(*wire.Request));
  }
  ExpectWireOutcome(wire, outcome, client.ResponseText());
  if (wire.Events) {
    EXPECT_EQ(profiled.Channel->Events(), *wire.Events);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WireCaseTest, ::testing::ValuesIn(LoadWireCases("http_cases")),
                         WireCaseName);

}  // namespace
}  // namespace tessora::test
