// Opening the TCP connection: arguments, name resolution, refusals and the connect time-out.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/fault_injection.h"
#include "net/tcp_connect.h"
#include "net/tls_channel.h"
#include "support/scripted_server.h"
#include "support/test_socket.h"
#include "tls_test_util.h"

namespace tessora {
namespace {

using test::ElapsedMs;
using test::FailureOf;

class ConnectTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::ClearFaults(); }
};

struct ArgumentCase {
  const char16_t* host;
  int port;
  const char16_t* message;
};

class ConnectArguments : public ConnectTest, public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(ConnectArguments, AreCheckedBeforeAnythingElse) {
  TlsChannel channel;
  const Error failure = FailureOf([&] { channel.Connect(GetParam().host, GetParam().port, 1000); });
  EXPECT_EQ(failure.Message(), GetParam().message);
  EXPECT_EQ(failure.Kind(), ErrorKind::kPlain);
  EXPECT_FALSE(channel.Connected());
}

INSTANTIATE_TEST_SUITE_P(Table, ConnectArguments,
                         ::testing::Values(ArgumentCase{u"", 443, u"A Host is required"},
                                           ArgumentCase{u"127.0.0.1", 0, u"A Port is required"},
                                           ArgumentCase{u"127.0.0.1", 65536, u"A Port is required"},
                                           ArgumentCase{u"127.0.0.1", -65536,
                                                        u"A Port is required"},
                                           ArgumentCase{u"", 0, u"A Host is required"}));

// (A proxy's configured port is cut to its low 16 bits before, by ProxySettings::Port.)
TEST_F(ConnectTest, APortOutsideTheRangeIsRequired) {
  for (const int port : {0, -1, 65536, 70000}) {
    EXPECT_EQ(FailureOf([&] { ConnectTcp(u"127.0.0.1", port, 5000); }).Message(),
              u"A Port is required");
  }
}

TEST_F(ConnectTest, RefusedConnectionRaisesTheSocketError) {
  int port = 0;
  platform::CloseSocket(test::ListenOnLoopback(port));  // nothing listens there any more
  TlsChannel channel;
  const Error failure = FailureOf([&] { channel.Connect(u"127.0.0.1", port, 20000); });
  EXPECT_EQ(failure.Kind(), ErrorKind::kSocket);
  EXPECT_EQ(failure.Code(), 10061);
  EXPECT_EQ(failure.Message(), u"Socket Error # 10061\r\nConnection refused.");
  EXPECT_FALSE(channel.Connected());
}

// A name is tried for IPv6 only after IPv4 failed; ::1 alone listens. Needs a name this machine
// resolves to ::1 (hosts files in many containers have none).
TEST_F(ConnectTest, ANameWithoutAnIpv4AddressIsReachedOverIpv6) {
  const std::string name = test::NameForBothLoopbacks();
  if (name.empty()) GTEST_SKIP() << "no host name resolves to ::1 here";
  test::ScriptedServer server(
      test::ScriptedServer::kPlain, [](test::ServerConnection&) {}, "server",
      test::ScriptedServer::Family::kIpv6);
  if (!server.Listening()) GTEST_SKIP() << "no IPv6 loopback here";
  // The name's IPv4 lookup answers "not found", as for a name with an AAAA record alone.
  platform::InjectFault(platform::Fault::kResolve, 11001);
  const platform::SocketHandle socket =
      ConnectTcp(std::u16string(name.begin(), name.end()), server.Port(), 5000);
  ASSERT_NE(socket, platform::kNoSocket);
  platform::CloseSocket(socket);
  EXPECT_EQ(platform::TakeFault(platform::Fault::kResolve), 0);  // the IPv4 lookup took it
}

TEST_F(ConnectTest, AFailureOverIpv6TooLeavesTheIpv4OneReported) {
  const std::string name = test::NameForBothLoopbacks();
  if (name.empty()) GTEST_SKIP() << "no host name resolves to ::1 here";
  int port = 0;
  platform::CloseSocket(test::ListenOnLoopback(port));  // nothing listens there any more
  const Error failure = FailureOf([&] {
    platform::CloseSocket(ConnectTcp(std::u16string(name.begin(), name.end()), port, 5000));
  });
  EXPECT_EQ(failure.Code(), 10061);
  EXPECT_EQ(failure.Message(), u"Socket Error # 10061\r\nConnection refused.");
}

// Tests that assert on real elapsed time: label "slow".
using ConnectTiming = ConnectTest;

// (An empty label makes the name fail inside the resolver, without a query on the network.)
TEST_F(ConnectTiming, UnresolvableNameFailsAtOnce) {
  TlsChannel channel;
  const test::Clock::time_point start = test::Clock::now();
  const Error failure = FailureOf([&] { channel.Connect(u"no-such-host..invalid", 443, 20000); });
  EXPECT_EQ(failure.Message(), u"Socket Error # 11001\r\nHost not found.");
  EXPECT_LT(ElapsedMs(start), 10000);
}

TEST_F(ConnectTest, ConnectErrorsOfAClosedSocketCarryTheTextAlone) {
  for (int code : {10009, 10038}) {
    platform::InjectFault(platform::Fault::kConnect, code);
    const Error failure = FailureOf([&] { ConnectTcp(u"127.0.0.1", 9, 5000); });
    EXPECT_EQ(failure.Code(), code);
    EXPECT_EQ(failure.Message(), platform::SocketErrorText(code));
  }
  platform::InjectFault(platform::Fault::kConnect, 10065);
  EXPECT_EQ(FailureOf([&] { ConnectTcp(u"127.0.0.1", 9, 5000); }).Message(),
            u"Socket Error # 10065\r\nNo route to host.");
}

class ConnectTimeOutTiming : public ConnectTest, public ::testing::WithParamInterface<int> {};

// A connect that never finishes ends at the time-out, not before it and not much after it: one
// polling step plus generous slack for a loaded machine (the runs under the sanitizers and Wine).
TEST_P(ConnectTimeOutTiming, EndsWithinOnePollingStep) {
  const int timeout = GetParam();
  platform::InjectFault(platform::Fault::kConnect, platform::kHangingConnect);
  TlsChannel channel;
  const test::Clock::time_point start = test::Clock::now();
  const Error failure = FailureOf([&] { channel.Connect(u"127.0.0.1", 9, timeout); });
  const long long elapsed = ElapsedMs(start);
  EXPECT_EQ(failure.Message(), u"Connect timed out.");
  EXPECT_GE(elapsed, timeout);
  EXPECT_LT(elapsed, timeout + kConnectPollStepMs + 1000);
  EXPECT_FALSE(channel.Connected());
}

INSTANTIATE_TEST_SUITE_P(Table, ConnectTimeOutTiming, ::testing::Values(1, 60, 300, 1000));

// A listener on loopback whose queue of connections is full: it drops further connection requests,
// so a connect to it stays pending until its time-out ends it, as one to a peer that never answers.
class FullListener {
 public:
  FullListener() {
    listener_ = test::ListenOnLoopback(port_, 0);
    if (listener_ == platform::kNoSocket) return;
    // The connects that go through stay queued; the first one that hangs shows the queue is full.
    for (int attempt = 0; attempt < 8 && !full_; ++attempt) {
      const platform::SocketHandle socket = platform::OpenTcpSocket();
      const int result = platform::ConnectSocket(socket, *platform::ParseIpv4(u"127.0.0.1"),
                                                 static_cast<std::uint16_t>(port_), 100);
      if (result == 0) {
        queued_.push_back(socket);
        continue;
      }
      platform::CloseSocket(socket);
      full_ = result == platform::kConnectTimedOut;
    }
  }
  ~FullListener() {
    for (const platform::SocketHandle socket : queued_)
      platform::CloseSocket(socket);
    platform::CloseSocket(listener_);
  }
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;

  int Port() const { return port_; }
  // Whether a connect was seen to hang; how many went through before.
  bool Full() const { return full_; }
  std::size_t Queued() const { return queued_.size(); }

 private:
  int port_ = 0;
  platform::SocketHandle listener_ = platform::kNoSocket;
  std::vector<platform::SocketHandle> queued_;
  bool full_ = false;
};

TEST_F(ConnectTiming, PendingConnectEndsAtTheTimeOut) {
  constexpr int kTimeoutMs = 300;
  FullListener listener;
  ASSERT_TRUE(listener.Full()) << listener.Queued() << " connects went through";
  const test::Clock::time_point start = test::Clock::now();
  const Error failure = FailureOf(
      [&] { platform::CloseSocket(ConnectTcp(u"127.0.0.1", listener.Port(), kTimeoutMs)); });
  const long long elapsed = ElapsedMs(start);
  EXPECT_EQ(failure.Message(), u"Connect timed out.");
  EXPECT_EQ(failure.Kind(), ErrorKind::kTimeout);
  EXPECT_GE(elapsed, kTimeoutMs);
  EXPECT_LT(elapsed, kTimeoutMs + kConnectPollStepMs + 1000);
}

// Work the caller does while its connect is pending runs once, and its time counts against the
// connect's time-out instead of coming on top of it: a connect that the peer never answers ends
// when the work is done if the time-out passed meanwhile.
TEST_F(ConnectTiming, WorkWhilePendingCountsAgainstTheTimeOut) {
  constexpr int kTimeoutMs = 300;
  constexpr int kWorkMs = 1000;
  FullListener listener;
  ASSERT_TRUE(listener.Full()) << listener.Queued() << " connects went through";
  int runs = 0;
  const test::Clock::time_point start = test::Clock::now();
  const Error failure = FailureOf([&] {
    platform::CloseSocket(ConnectTcp(u"127.0.0.1", listener.Port(), kTimeoutMs, [&] {
      ++runs;
      std::this_thread::sleep_for(std::chrono::milliseconds(kWorkMs));
    }));
  });
  const long long elapsed = ElapsedMs(start);
  EXPECT_EQ(failure.Message(), u"Connect timed out.");
  EXPECT_EQ(runs, 1);
  EXPECT_GE(elapsed, kWorkMs);
  EXPECT_LT(elapsed, kWorkMs + kTimeoutMs);
}

TEST_F(ConnectTiming, ConnectedSocketBlocksAgain) {
  int port = 0;
  const platform::SocketHandle listener = test::ListenOnLoopback(port);
  ASSERT_NE(listener, platform::kNoSocket);
  const platform::SocketHandle socket = ConnectTcp(u"127.0.0.1", port, 5000);
  platform::SetSocketTimeouts(socket, 200);
  char buffer[8];
  const test::Clock::time_point start = test::Clock::now();
  // Nothing comes: a blocking receive waits for its time-out (a non-blocking one would fail at
  // once).
  EXPECT_EQ(platform::SocketReceive(socket, buffer, sizeof buffer), -1);
  EXPECT_EQ(platform::LastSocketError(), 10060);
  EXPECT_GE(ElapsedMs(start), 150);
  platform::CloseSocket(socket);
  platform::CloseSocket(listener);
}

}  // namespace
}  // namespace tessora
