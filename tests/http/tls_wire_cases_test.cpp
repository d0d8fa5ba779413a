// The wire cases again, end to end over real TLS: the client on the TLS channel, the scripted TLS
// server on loopback replying with the case's bytes. Cases whose reply the scripted server cannot
// produce (a silent peer, a reset, another host name) stay in memory only, and so do those that
// send nothing.
#include <gtest/gtest.h>

#include <mutex>

#include "base/error.h"
#include "base/text.h"
#include "doubles/memory_channel.h"
#include "e2e_util.h"
#include "support/scripted_server.h"
#include "wire_case.h"

namespace tessora::test {
namespace {

constexpr char kApiPrefix[] = "https://api.tessora.net/";

bool RunsOverTls(const WireCase& wire) {
  for (const std::string& setting : wire.setup) {
    if (setting.rfind("proxy ", 0) == 0) return false;
  }
  // (A case that expects no events opens no connection: nothing for a server to see.)
  const bool connects = !wire.events || !wire.events->empty();
  return connects && !wire.proxyReply && wire.url.rfind(kApiPrefix, 0) == 0 &&
         (wire.reply.end == "close" || wire.reply.end == "cut");
}

std::vector<WireCase> TlsCases() {
  std::vector<WireCase> cases;
  for (WireCase& wire : LoadWireCases("http_cases")) {
    if (RunsOverTls(wire)) cases.push_back(std::move(wire));
  }
  return cases;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size()) {
    text.replace(pos, from.size(), to);
  }
  return text;
}

// The body length a request head announces.
std::size_t AnnouncedLength(const std::string& head) {
  const std::size_t at = head.find("\r\nContent-Length: ");
  return at == std::string::npos ? 0 : std::stoul(head.substr(at + 18));
}

class TlsWireCaseTest : public ::testing::TestWithParam<WireCase> {};

TEST_P(TlsWireCaseTest, Exchange) {
  // (No SCOPED_TRACE: on Windows it starts a thread of GoogleTest's, and Wine may crash when a
  // process ends while such a thread is still starting. A failure names the case's file and line.)
  const WireCase& wire = GetParam();
  std::mutex lock;
  std::string received;
  const std::vector<std::string> blocks = SplitBlocks(wire.reply.bytes, wire.reply.split);
  ScriptedServer server(ScriptedServer::kTls, [&](ServerConnection& c) {
    std::string request = c.ReadHead();
    request += c.Read(AnnouncedLength(request));
    {
      std::lock_guard<std::mutex> guard(lock);
      received = request;
    }
    for (const std::string& block : blocks) {
      if (!c.Write(block)) break;
    }
    if (wire.reply.end == "cut") {
      c.CloseWithoutAlert();
    } else {
      c.Close();
    }
  });
  ASSERT_TRUE(server.Listening());
  const std::string local = "127.0.0.1:" + std::to_string(server.Port());

  std::unique_ptr<HttpClient> client = MakeTlsClient(wire.setup);
  const std::u16string url = Utf8ToText("https://" + local + "/" + wire.url.substr(24));
  const WireOutcome outcome = CallWire(*client, wire, url);
  const HttpResponse response = client->Response();
  client.reset();
  ASSERT_TRUE(server.WaitForFinished(1));

  if (wire.request) {
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(received,
              ReplaceAll(*wire.request, "Host: api.tessora.net\r\n", "Host: " + local + "\r\n"));
  }
  ExpectWireOutcome(wire, outcome, response);
}

INSTANTIATE_TEST_SUITE_P(Cases, TlsWireCaseTest, ::testing::ValuesIn(TlsCases()), WireCaseName);

}  // namespace
}  // namespace tessora::test
