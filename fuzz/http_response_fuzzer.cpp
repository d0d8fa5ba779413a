// Feeds arbitrary server bytes to the HTTP client's response reader through an in-memory channel.
// The first byte chooses the call: bit 0 a proxy tunnel (the proxy's answer is the input up to and
// including its first empty line), bit 1 POST instead of GET, bits 2-6 the receive block size,
// bit 7 a reset instead of a close at the end.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/error.h"
#include "http/charset/charset.h"
#include "http/client.h"
#include "support/memory_channel.h"

using tessora::test::MemoryChannel;
using tessora::test::PeerEnd;
using tessora::test::PeerScript;
using tessora::test::SplitBlocks;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool tunnel = (mode & 1) != 0;
  const bool post = (mode & 2) != 0;
  const int blockSize = 1 + ((mode >> 2) & 0x1F) * 37;

  PeerScript script;
  std::string serverBytes = bytes;
  if (tunnel) {
    const std::size_t end = bytes.find("\r\n\r\n");
    const std::size_t cut = end == std::string::npos ? bytes.size() : end + 4;
    script.PlainBlocks = SplitBlocks(bytes.substr(0, cut), {blockSize});
    serverBytes = bytes.substr(cut);
  }
  script.TlsBlocks = SplitBlocks(serverBytes, {blockSize});
  if ((mode & 0x80) != 0) {
    script.End = PeerEnd::Error;
    script.EndCode = 10054;
  }

  auto channel = std::make_unique<MemoryChannel>();
  channel->AddConnection(script);
  tessora::HttpClient client(std::move(channel));
  client.Request().ContentType = u"application/json";
  if (tunnel) {
    client.ProxyParams().ProxyServer = u"proxy.local";
    client.ProxyParams().ProxyPort = 3128;
  }
  try {
    const std::u16string url = u"https://api.tessora.net/v1/items";
    if (post) {
      client.Post(url, std::string("{}"));
    } else {
      client.Get(url);
    }
  } catch (const tessora::Error&) {
    // Failures are an expected answer to hostile bytes; crashes, hangs and leaks are not.
  }
  return 0;
}
