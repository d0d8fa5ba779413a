// Channels on several threads at once share the process's client context and its kept sessions
// (under Wine the 1.0.2n DLLs, whose locking callbacks must cover both). Run under the sanitizers.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "net/tls_channel.h"
#include "net/tls_context.h"
#include "support/scripted_server.h"
#include "tls_test_util.h"

namespace tessora {
namespace {

using test::ScriptedServer;
using test::ServerConnection;

constexpr int kThreads = 4;
constexpr int kConnectionsPerThread = 50;

TEST(TlsThreads, ChannelsOnFourThreadsShareTheContextAndTheSessions) {
  std::atomic<int> resumed{0};
  ScriptedServer server(ScriptedServer::kTls, [&](ServerConnection& c) {
    if (c.Resumed()) ++resumed;
    c.ReadHead();
    c.Write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  });
  ASSERT_TRUE(server.Listening());
  std::atomic<int> answered{0};
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Two host names, so that threads share some servers' sessions and not others.
      const std::string host = t % 2 == 0 ? "localhost" : "127.0.0.1";
      const std::string request = "GET / HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
      for (int i = 0; i < kConnectionsPerThread; ++i) {
        try {
          TlsChannel channel;
          channel.SetServerName(AsciiToText(host), server.Port());
          channel.Connect(u"127.0.0.1", server.Port(), 20000);
          channel.Send(request.data(), static_cast<int>(request.size()));
          std::string answer;
          char buffer[256];
          for (int reads = 0; reads < 100 && answer.find("\r\n\r\nok") == std::string::npos;
               ++reads) {
            const int n = channel.Receive(buffer, sizeof buffer);
            if (n <= 0) break;
            answer.append(buffer, static_cast<std::size_t>(n));
          }
          if (answer.find("\r\n\r\nok") != std::string::npos) ++answered;
          channel.Close();
        } catch (const Error&) {
          ++failed;
        }
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(answered, kThreads * kConnectionsPerThread);
  EXPECT_EQ(ClientContextsMade(), 1);
  ASSERT_TRUE(server.WaitForFinished(kThreads * kConnectionsPerThread));
  // Only a thread's first connections can find no session kept.
  EXPECT_GE(resumed, kThreads * (kConnectionsPerThread - 1));
  EXPECT_TRUE(HasKeptSession(u"localhost", server.Port()));
  EXPECT_TRUE(HasKeptSession(u"127.0.0.1", server.Port()));
}

}  // namespace
}  // namespace tessora
