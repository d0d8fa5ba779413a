// Runs arbitrary server bytes through the HTTP client's response reader over an in-memory channel;
// shared by http_response_fuzzer and http_structured_fuzzer.
//
// The first byte chooses the call: bit 0 a proxy tunnel (the proxy's answer is the input up to and
// including its first empty line), bit 1 POST instead of GET, bits 2-6 the receive block size,
// bit 7 a reset instead of a close at the end. The rest are the server's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/error.h"
#include "http/client.h"
#include "support/memory_channel.h"

namespace tessora::fuzz {

inline void RunServerBytes(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return;
  const std::uint8_t mode = data[0];
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool tunnel = (mode & 1) != 0;
  const bool post = (mode & 2) != 0;
  const int blockSize = 1 + ((mode >> 2) & 0x1F) * 37;

  test::PeerScript script;
  std::string serverBytes = bytes;
  if (tunnel) {
    const std::size_t end = bytes.find("\r\n\r\n");
    const std::size_t cut = end == std::string::npos ? bytes.size() : end + 4;
    script.plainBlocks = test::SplitBlocks(bytes.substr(0, cut), {blockSize});
    serverBytes = bytes.substr(cut);
  }
  script.tlsBlocks = test::SplitBlocks(serverBytes, {blockSize});
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
  try {
    const std::u16string url = u"https://api.tessora.net/v1/items";
    if (post) {
      client.Perform(u"POST", tessora::HttpVersion::kHttp10, url, std::string("{}"));
    } else {
      client.Perform(u"GET", tessora::HttpVersion::kHttp11, url, std::nullopt);
    }
  } catch (const Error&) {
    // Failures are an expected answer to hostile bytes; crashes, hangs and leaks are not.
  }
}

}  // namespace tessora::fuzz
