// The soak's two failing API servers, in a process of their own so that the soak's footprint is
// the host's and the library's alone. Both are TLS servers on 127.0.0.1 with the test PKI's
// server certificate; each reads the request's head, then
//   reset   resets the TCP connection;
//   stall   answers nothing and keeps the connection open until the client closes it.
//
//   soak_peers <directory> <seconds>
//
// Writes "reset=PORT" and "stall=PORT" lines to <directory>/ports once both listen, and serves
// until the file <directory>/stop appears or <seconds> have passed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/scripted_server.h"

namespace {

namespace fs = std::filesystem;
using tessora::test::ScriptedServer;
using tessora::test::ServerConnection;

// The longest a stalled connection is kept when the client never closes it.
constexpr int kStallLimitMs = 120000;
constexpr auto kPollInterval = std::chrono::milliseconds(100);

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: soak_peers <directory> <seconds>\n");
    return 2;
  }
  const fs::path dir = argv[1];
  const auto limit = std::chrono::seconds(std::atoi(argv[2]));
  ScriptedServer reset(ScriptedServer::kTls, [](ServerConnection& connection) {
    connection.ReadHead();
    connection.Reset();
  });
  ScriptedServer stall(ScriptedServer::kTls, [](ServerConnection& connection) {
    connection.ReadHead();
    connection.ReadUntilClosed(kStallLimitMs);
  });
  if (!reset.Listening() || !stall.Listening()) {
    std::fprintf(stderr, "soak_peers: the servers did not start (test PKI in %s?)\n",
                 tessora::test::TestPkiDir().c_str());
    return 2;
  }
  {
    std::ofstream ports(dir / "ports.new");
    ports << "reset=" << reset.Port() << "\nstall=" << stall.Port() << "\n";
  }
  fs::rename(dir / "ports.new", dir / "ports");
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!fs::exists(dir / "stop") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPollInterval);
  }
  return 0;
}
