// How fast the client reads and decodes answers, through the in-memory channel (no sockets, no
// TLS): a JSON body with a length, the same body chunked, and a UTF-8 body decoded to text.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "doubles/memory_channel.h"
#include "http/client.h"

namespace {

using tessora::HttpClient;
using tessora::HttpVersion;
using tessora::test::MemoryChannel;
using tessora::test::PeerScript;
using tessora::test::SplitBlocks;

std::string JsonBody(std::size_t size) {
  std::string body = "[";
  for (int i = 0; body.size() < size; ++i) {
    body += "{\"id\":" + std::to_string(i) + ",\"name\":\"Jos\xC3\xA9\"},";
  }
  body.back() = ']';
  return body;
}

std::string Chunked(const std::string& body, std::size_t chunk) {
  std::string out;
  char size[32];
  for (std::size_t pos = 0; pos < body.size(); pos += chunk) {
    const std::string part = body.substr(pos, chunk);
    std::snprintf(size, sizeof size, "%zx\r\n", part.size());
    out += size + part + "\r\n";
  }
  return out + "0\r\n\r\n";
}

void Exchange(benchmark::State& state, const std::string& reply) {
  const std::vector<std::string> blocks = SplitBlocks(reply, {16384});
  for (auto _ : state) {
    auto channel = std::make_unique<MemoryChannel>();
    PeerScript script;
    script.tlsBlocks = blocks;
    channel->AddConnection(script);
    HttpClient client(std::move(channel));
    benchmark::DoNotOptimize(client.Perform(u"GET", HttpVersion::kHttp11,
                                            u"https://api.tessora.net/v1/items", std::nullopt));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(reply.size()));
}

void BmLengthBody(benchmark::State& state) {
  const std::string body = JsonBody(static_cast<std::size_t>(state.range(0)));
  Exchange(state,
           "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n"
           "Content-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body);
}
BENCHMARK(BmLengthBody)->Arg(1 << 10)->Arg(1 << 20);

void BmChunkedBody(benchmark::State& state) {
  const std::string body = JsonBody(static_cast<std::size_t>(state.range(0)));
  Exchange(state,
           "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n"
           "Transfer-Encoding: chunked\r\n\r\n" +
               Chunked(body, 4096));
}
BENCHMARK(BmChunkedBody)->Arg(1 << 20);

void BmReadToCloseByteByByte(benchmark::State& state) {
  const std::string body = JsonBody(static_cast<std::size_t>(state.range(0)));
  Exchange(state, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n" + body);
}
BENCHMARK(BmReadToCloseByteByByte)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
