// Times the TLS handshake on loopback: the first connection of the process (which loads and
// initialises the TLS library) and then repeated connections, each a full TCP connect and TLS 1.2
// handshake with certificate checks against the in-process test server.
//
//   handshake_timing [connections]      (SSL_CERT_FILE must name the test CA)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "net/openssl/binding.h"
#include "net/tls_channel.h"
#include "support/scripted_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Handshake(int port) {
  tessora::TlsChannel channel;
  channel.SetURIToCheck(tessora::AsciiToText("https://127.0.0.1:" + std::to_string(port) + "/"));
  const Clock::time_point start = Clock::now();
  channel.Connect(u"127.0.0.1", port, 20000);
  const double ms = Ms(Clock::now() - start);
  channel.Close();
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  try {
    const Clock::time_point loadStart = Clock::now();
    if (tessora::openssl::LoadOpenSsl() == nullptr) {
      std::fprintf(stderr, "the TLS library cannot be loaded\n");
      return 1;
    }
    const double loadMs = Ms(Clock::now() - loadStart);
    tessora::test::ScriptedServer server(tessora::test::ScriptedServer::kTls,
                                         [](tessora::test::ServerConnection&) {});
    if (!server.Listening()) {
      std::fprintf(stderr, "the test server did not start\n");
      return 1;
    }
    const double firstMs = Handshake(server.Port());
    std::vector<double> times;
    for (int i = 0; i < count; ++i)
      times.push_back(Handshake(server.Port()));
    std::sort(times.begin(), times.end());
    std::printf("load and initialise the TLS library: %.1f ms\n", loadMs);
    std::printf("first connection (new context): %.1f ms\n", firstMs);
    std::printf("%d connections: median %.2f ms, min %.2f ms, max %.2f ms\n", count,
                times[times.size() / 2], times.front(), times.back());
    return 0;
  } catch (const tessora::Error& failure) {
    std::fprintf(stderr, "%s\n", failure.what());
    return 1;
  }
}
