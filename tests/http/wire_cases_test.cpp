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
  if (end == "close") return PeerEnd::kClose;
  if (end == "cut") return PeerEnd::kCut;
  if (end == "silent") return PeerEnd::kSilent;
  code = std::stoi(end);
  return PeerEnd::kError;
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
  ProfiledClient profiled = MakeClient(wire.setup);
  HttpClient& client = *profiled.client;

  PeerScript script;
  if (wire.proxyReply) {
    script.plainBlocks = SplitBlocks(wire.proxyReply->bytes, wire.proxyReply->split);
  }
  script.tlsBlocks = SplitBlocks(wire.reply.bytes, wire.reply.split);
  script.end = EndOf(wire.reply.end, script.endCode);
  if (wire.proxyReply && wire.reply.bytes.empty()) {
    script.end = EndOf(wire.proxyReply->end, script.endCode);
  }
  profiled.channel->AddConnection(script);

  const std::u16string url = Utf8ToText(wire.url);
  const WireOutcome outcome = CallWire(client, wire, url);

  if (wire.proxyRequest) {
    EXPECT_EQ(Visible(profiled.channel->PlainSent()), Visible(*wire.proxyRequest));
  } else if (!wire.proxyReply) {
    EXPECT_EQ(Visible(profiled.channel->PlainSent()), "");
  }
  if (wire.request) {
    EXPECT_EQ(Visible(profiled.channel->TlsSent()), Visible(*wire.request));
  }
  ExpectWireOutcome(wire, outcome, client.Response());
  if (wire.events) {
    EXPECT_EQ(profiled.channel->Events(), *wire.events);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WireCaseTest, ::testing::ValuesIn(LoadWireCases("http_cases")),
                         WireCaseName);

}  // namespace
}  // namespace tessora::test
