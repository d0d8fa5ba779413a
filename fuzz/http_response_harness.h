// Runs arbitrary server bytes through the HTTP client's response reader over an in-memory channel;
// shared by http_response_fuzzer and http_structured_fuzzer.
//
// The first byte chooses the call: bit 0 a proxy tunnel (the proxy's answer is the input up to and
// including its first empty line), bit 1 POST instead of GET, bits 2-6 the receive block size,
// bit 7 a reset instead of a close at the end. The rest are the server's bytes. The same bytes in
// one block must give the same outcome.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/error.h"
#include "doubles/memory_channel.h"
#include "http/client.h"

namespace tessora::fuzz {

// What one exchange gave: the result text or the failure, the status line, what was said of an
// incomplete answer.
struct ExchangeOutcome {
  std::u16string result;
  bool failed = false;
  ErrorKind failureKind = ErrorKind::kPlain;
  std::u16string failureMessage;
  std::u16string responseText;
  std::u16string incomplete;

  bool operator==(const ExchangeOutcome&) const = default;
};

// One exchange with the server's bytes delivered in blocks of `blockSize` bytes.
inline ExchangeOutcome RunExchange(std::uint8_t mode, const std::string& bytes,
                                   std::size_t blockSize) {
  const bool tunnel = (mode & 1) != 0;
  const bool post = (mode & 2) != 0;
  const int block = static_cast<int>(std::min<std::size_t>(blockSize, 1 << 30));

  test::PeerScript script;
  std::string serverBytes = bytes;
  if (tunnel) {
    const std::size_t end = bytes.find("\r\n\r\n");
    const std::size_t cut = end == std::string::npos ? bytes.size() : end + 4;
    script.plainBlocks = test::SplitBlocks(bytes.substr(0, cut), {block});
    serverBytes = bytes.substr(cut);
  }
  script.tlsBlocks = test::SplitBlocks(serverBytes, {block});
  if ((mode & 0x80) != 0) {
    script.end = test::PeerEnd::kError;
    script.endCode = 10054;
  }

  auto channel = std::make_unique<test::MemoryChannel>();
  channel->AddConnection(script);
  HttpClient client(std::move(channel));
  client.Request().contentType = u"application/json";
  if (tunnel) {
    client.ProxyParams().proxyServer = u"proxy.local";
    client.ProxyParams().proxyPort = 3128;
  }
  ExchangeOutcome outcome;
  try {
    const std::u16string url = u"https://api.tessora.net/v1/items";
    if (post) {
      outcome.result =
          client.Perform(u"POST", tessora::HttpVersion::kHttp10, url, std::string("{}"));
    } else {
      outcome.result = client.Perform(u"GET", tessora::HttpVersion::kHttp11, url, std::nullopt);
    }
  } catch (const Error& failure) {
    // Failures are an expected answer to hostile bytes; crashes, hangs and leaks are not.
    outcome.failed = true;
    outcome.failureKind = failure.Kind();
    outcome.failureMessage = failure.Message();
  }
  outcome.responseText = client.ResponseText();
  outcome.incomplete = client.Response().incomplete;
  return outcome;
}

// The first byte chooses the call (see the top of this file), the rest are the server's bytes.
// The same bytes, in blocks of the chosen size and in one block, must give the same outcome: how
// the network cuts an answer into pieces never changes what it means.
inline void RunServerBytes(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return;
  const std::uint8_t mode = data[0];
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t blockSize = 1 + static_cast<std::size_t>((mode >> 2) & 0x1F) * 37;
  const ExchangeOutcome inBlocks = RunExchange(mode, bytes, blockSize);
  const ExchangeOutcome whole = RunExchange(mode, bytes, bytes.size() + 1);
  if (!(inBlocks == whole)) std::abort();
}

}  // namespace tessora::fuzz
