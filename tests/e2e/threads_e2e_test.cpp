// Calls on several host threads at once, through the exports against the nginx peer: every
// thread's calls share the process's client context and the session kept for the server. Run
// under the sanitizers (label "threads").
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/host_library.h"
#include "support/peers.h"
#include "support/temp_dir.h"

namespace tessora::test {
namespace {

constexpr char kEndpoints[] = R"({"ENDPOINTS": {"JSON": {"route": "/v1/json", "method": "GET"}}})";
constexpr int kThreads = 4;
constexpr int kCallsPerThread = 50;

// The lines of nginx's access log (tests/support/peers.py) whose request carries `tag`: "r" or "."
// (resumed or not), the server name, the request line, the status. Waits until `count` of them
// are there (nginx writes a line as the request ends), at most a few seconds.
std::vector<std::string> LogLinesWith(const std::string& tag, std::size_t count) {
  std::vector<std::string> lines;
  for (int attempt = 0; attempt < 100; ++attempt) {
    lines.clear();
    std::ifstream in(PeerFile("nginx", "access.log"));
    std::string line;
    while (std::getline(in, line)) {
      if (line.find(tag) != std::string::npos) lines.push_back(line);
    }
    if (lines.size() >= count) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return lines;
}

TEST(Threads, FourThreadsCallingAtOnceShareTheContextAndTheSession) {
  TempDir dir;
  WriteFileBytes(dir.Path() / "endpoints.json", kEndpoints);
  ScopedCurrentDir cwd(dir.Path());
  HostLibrary library;
  ASSERT_TRUE(library.Loaded());
  const int port = PeerPort("nginx");
  ASSERT_NE(port, 0) << "the nginx peer is not running";
  const std::string environment = "127.0.0.1:" + std::to_string(port) + "/";
  const std::string tag = "threads-" + std::to_string(std::random_device{}());

  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Settings are the calling thread's own.
      library.configureService("client", "secret", environment.c_str(), "endpoints.json", "");
      for (int i = 0; i < kCallsPerThread; ++i) {
        const std::string query = "tag=" + tag + "-" + std::to_string(t) + "-" + std::to_string(i);
        char* result = library.tessoraNet("JSON", "", query.c_str(), "");
        const std::string answer = result != nullptr ? result : "";
        FreeResultBuffer(result);
        if (answer.rfind(R"({"name":"Jos)", 0) == 0) ++answered;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(answered, kThreads * kCallsPerThread);

  const std::vector<std::string> lines = LogLinesWith(tag, kThreads * kCallsPerThread);
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kCallsPerThread));
  int resumed = 0;
  for (const std::string& line : lines) {
    if (line.rfind("r ", 0) == 0) ++resumed;
  }
  // Only a thread's first call can find no session kept yet.
  EXPECT_GE(resumed, kThreads * (kCallsPerThread - 1));
}

}  // namespace
}  // namespace tessora::test
