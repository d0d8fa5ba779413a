// Times the TLS handshake on loopback: the first connection of the process (which loads and
// initialises the TLS library and makes the client context), then repeated connections to the
// in-process test server, each a TCP connect and a TLS 1.2 handshake: full ones with certificate
// checks (the kept session dropped before each), and resumed ones.
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
#include "net/tls_context.h"
#include "support/scripted_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Handshake(int port, bool full) {
  if (full) tessora::DropKeptSession(u"127.0.0.1", port);
  tessora::TlsChannel channel;
  channel.SetServerName(u"127.0.0.1", port);
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
    const double firstMs = Handshake(server.Port(), true);
    std::vector<double> full;
    std::vector<double> resumed;
    for (int i = 0; i < count; ++i) {
      full.push_back(Handshake(server.Port(), true));
      resumed.push_back(Handshake(server.Port(), false));
    }
    std::printf("load and initialise the TLS library: %.1f ms\n", loadMs);
    std::printf("first connection (new context): %.1f ms\n", firstMs);
    for (auto* row : {&full, &resumed}) {
      std::sort(row->begin(), row->end());
      std::printf("%d %s connections: median %.2f ms, min %.2f ms, max %.2f ms\n", count,
                  row == &full ? "full" : "resumed", (*row)[row->size() / 2], row->front(),
                  row->back());
    }
    return 0;
  } catch (const tessora::Error& failure) {
    std::fprintf(stderr, "%s\n", failure.what());
    return 1;
  }
}
