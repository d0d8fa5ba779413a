#include "platform/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "base/error.h"
#include "base/fault_injection.h"
#include "base/text.h"
#include "support/test_socket.h"

#if !defined(_WIN32)
#include <errno.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#endif

namespace tessora::platform {
namespace {

using Clock = std::chrono::steady_clock;

struct TextCase {
  int code;
  const char16_t* text;
};

class SocketErrorTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(SocketErrorTexts, MessageCarriesNumberAndText) {
  const TextCase& c = GetParam();
  EXPECT_EQ(SocketErrorText(c.code), c.text);
  EXPECT_EQ(SocketErrorMessage(c.code), u"Socket Error # " + IntToText(c.code) + u"\r\n" + c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SocketErrorTexts,
    ::testing::Values(
        TextCase{10061, u"Connection refused."}, TextCase{10060, u"Connection timed out."},
        TextCase{11001, u"Host not found."}, TextCase{10054, u"Connection reset by peer."},
        TextCase{10053, u"Software caused connection abort."},
        TextCase{10065, u"No route to host."}, TextCase{10051, u"Network is unreachable."},
        TextCase{10058, u"Cannot send or receive after socket is closed."},
        TextCase{10038, u"Socket operation on non-socket."}, TextCase{10009, u"Bad file number."}));

TEST(SocketErrors, RaisedAsSocketFailureWithCode) {
  try {
    RaiseSocketError(10061);
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::kSocket);
    EXPECT_EQ(e.Code(), 10061);
    EXPECT_EQ(e.Message(), u"Socket Error # 10061\r\nConnection refused.");
  }
}

TEST(SocketErrors, EveryKnownTextEndsInAPeriod) {
  for (int code = 10000; code < 11010; ++code) {
    const std::u16string text = SocketErrorText(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_EQ(text.back(), u'.') << code;
  }
}

#if !defined(_WIN32)
TEST(SocketErrors, ErrnoBecomesWindowsSocketsNumber) {
  EXPECT_EQ(SocketErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(SocketErrorFromErrno(ETIMEDOUT), 10060);
  EXPECT_EQ(SocketErrorFromErrno(EAGAIN), 10060);
  EXPECT_EQ(SocketErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(SocketErrorFromErrno(ECONNABORTED), 10053);
  EXPECT_EQ(SocketErrorFromErrno(EPIPE), 10058);
  EXPECT_EQ(SocketErrorFromErrno(ESHUTDOWN), 10058);
  EXPECT_EQ(SocketErrorFromErrno(EHOSTUNREACH), 10065);
  EXPECT_EQ(SocketErrorFromErrno(ENETUNREACH), 10051);
  EXPECT_EQ(SocketErrorFromErrno(EBADF), 10009);
  EXPECT_EQ(SocketErrorFromErrno(ENOTSOCK), 10038);
  EXPECT_EQ(SocketErrorFromErrno(0), 0);
}
#endif

struct Ipv4Case {
  const char16_t* text;
  bool valid;
  unsigned char bytes[4];
};

class Ipv4Literals : public ::testing::TestWithParam<Ipv4Case> {};

TEST_P(Ipv4Literals, Parse) {
  const Ipv4Case& c = GetParam();
  const std::optional<std::uint32_t> parsed = ParseIpv4(c.text);
  ASSERT_EQ(parsed.has_value(), c.valid);
  if (!c.valid) return;
  std::uint32_t expected;
  std::memcpy(&expected, c.bytes, 4);
  EXPECT_EQ(*parsed, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Ipv4Literals,
    ::testing::Values(Ipv4Case{u"127.0.0.1", true, {127, 0, 0, 1}},
                      Ipv4Case{u"255.255.255.255", true, {255, 255, 255, 255}},
                      Ipv4Case{u"0.0.0.0", true, {0, 0, 0, 0}}, Ipv4Case{u"256.0.0.1", false, {}},
                      Ipv4Case{u"127.1", false, {}}, Ipv4Case{u"1.2.3.4.5", false, {}},
                      Ipv4Case{u"1.2.3.", false, {}}, Ipv4Case{u"a.b.c.d", false, {}},
                      Ipv4Case{u"1234.0.0.1", false, {}}, Ipv4Case{u"", false, {}},
                      Ipv4Case{u"localhost", false, {}}));

TEST(Resolution, LiteralAddressIsUsedUnchanged) {
  const std::uint32_t address = ResolveIpv4(u"10.1.2.3");
  EXPECT_EQ(address, *ParseIpv4(u"10.1.2.3"));
}

TEST(Resolution, LocalhostResolvesToLoopback) {
  EXPECT_EQ(ResolveIpv4(u"localhost"), *ParseIpv4(u"127.0.0.1"));
}

TEST(Resolution, ABoundedLookupGivesTheSameAddress) {
  EXPECT_EQ(ResolveIpv4(u"localhost", 10000), *ParseIpv4(u"127.0.0.1"));
}

TEST(Resolution, ABoundedLookupFailsAsTheResolverDoes) {
  try {
    ResolveIpv4(u"no-such-host..invalid", 10000);
    ADD_FAILURE() << "resolved";
  } catch (const Error& e) {
    EXPECT_EQ(e.Code(), 11001);
  }
}

TEST(Resolution, AResolverThatNeverAnswersEndsAtTheBound) {
  InjectFault(Fault::kResolve, kHangingConnect);
  try {
    ResolveIpv4(u"api.example", 20);
    ADD_FAILURE() << "resolved";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::kTimeout);
    EXPECT_EQ(e.Message(), u"Host name lookup timed out.");
  }
}

TEST(Resolution, AfterALookupThatTimedOutTheNextOnesAnswer) {
  for (int round = 0; round < 3; ++round) {
    InjectFault(Fault::kResolve, kHangingConnect);
    EXPECT_THROW(ResolveIpv4(u"api.example", 20), Error);
    EXPECT_EQ(ResolveIpv4(u"localhost", 10000), *ParseIpv4(u"127.0.0.1"));
  }
}

TEST(Resolution, ABoundedLookupPassesTheResolversErrorOn) {
  InjectFault(Fault::kResolve, 11002);  // WSATRY_AGAIN
  try {
    ResolveIpv4(u"api.example", 10000);
    ADD_FAILURE() << "resolved";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::kSocket);
    EXPECT_EQ(e.Code(), 11002);
  }
}

// A bounded lookup converts an internationalised name itself; it finds what the resolver's own
// conversion finds (fullwidth letters map to ASCII ones), and fails where that one fails.
TEST(Resolution, BoundedAndUnboundedLookupsOfInternationalisedNamesAgree) {
  const std::u16string fullwidthLocalhost =
      u"\uFF4C\uFF4F\uFF43\uFF41\uFF4C\uFF48\uFF4F\uFF53\uFF54";
  auto outcome = [](const std::u16string& name, int timeoutMs) -> std::string {
    try {
      return "address " + std::to_string(ResolveIpv4(name, timeoutMs));
    } catch (const Error& e) {
      return "error " + std::to_string(e.Code());
    }
  };
  for (const std::u16string& name : {fullwidthLocalhost, std::u16string(u"b\u00fccher..invalid")}) {
    EXPECT_EQ(outcome(name, 10000), outcome(name, 0)) << TextToUtf8(name);
  }
}

TEST(ResolutionTiming, UnknownNameFailsAtOnceWithHostNotFound) {
  const Clock::time_point start = Clock::now();
  // Names with an empty label fail inside the resolver: no query leaves the machine.
  for (const char16_t* name : {u"no-such-host..invalid", u"b\u00fccher..invalid"}) {
    try {
      ResolveIpv4(name);
      ADD_FAILURE() << "resolved";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::kSocket);
      EXPECT_EQ(e.Code(), 11001);
      EXPECT_EQ(e.Message(), u"Socket Error # 11001\r\nHost not found.");
    }
  }
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

class SocketPair : public ::testing::Test {
 protected:
  void SetUp() override {
    int port = 0;
    listener_ = test::ListenOnLoopback(port);
    ASSERT_NE(listener_, kNoSocket);
    client_ = OpenTcpSocket();
    ASSERT_EQ(
        ConnectSocket(client_, *ParseIpv4(u"127.0.0.1"), static_cast<std::uint16_t>(port), 5000),
        0);
    server_ = test::AcceptConnection(listener_, 5000);
    ASSERT_NE(server_, kNoSocket);
  }
  void TearDown() override {
    CloseSocket(client_);
    CloseSocket(server_);
    CloseSocket(listener_);
  }
  SocketHandle listener_ = kNoSocket;
  SocketHandle client_ = kNoSocket;
  SocketHandle server_ = kNoSocket;
};

TEST_F(SocketPair, BytesTravelBothWays) {
  ASSERT_EQ(SocketSend(client_, "ping", 4), 4);
  ASSERT_TRUE(WaitReadable(server_, 5000));
  char buffer[8] = {};
  ASSERT_EQ(SocketReceive(server_, buffer, sizeof buffer), 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");
}

// Tests that assert on real elapsed time: label "slow".
using SocketPairTiming = SocketPair;

TEST_F(SocketPairTiming, WaitReadableTimesOutOnASilentPeer) {
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(WaitReadable(client_, 100));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));
}

TEST_F(SocketPairTiming, ReceiveTimeOutFailsWith10060) {
  SetSocketTimeouts(client_, 200);
  char buffer[8];
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(SocketReceive(client_, buffer, sizeof buffer), -1);
  EXPECT_EQ(LastSocketError(), 10060);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(150));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

#if !defined(_WIN32)

// Signals for one thread every 20 ms from a thread of their own, for at most 10 s: what a host with
// an interval timer, a profiler or a language run-time's ticks gets. The handler does nothing and
// is installed with SA_RESTART, as such hosts install theirs.
class SignalStorm {
 public:
  explicit SignalStorm(pthread_t target) {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR2, &action, &previous_);
    thread_ = std::thread([this, target] {
      for (int i = 0; i < 500 && !stop_; ++i) {
        pthread_kill(target, SIGUSR2);
        ++sent_;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      running_ = false;
    });
  }
  ~SignalStorm() {
    stop_ = true;
    thread_.join();
    sigaction(SIGUSR2, &previous_, nullptr);
  }
  SignalStorm(const SignalStorm&) = delete;
  SignalStorm& operator=(const SignalStorm&) = delete;

  bool Running() const { return running_; }
  int Sent() const { return sent_; }

 private:
  struct sigaction previous_ {};
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{true};
  std::atomic<int> sent_{0};
  std::thread thread_;
};

TEST_F(SocketPairTiming, AReceiveUnderSignalsStillEndsAtItsTimeOut) {
  SetSocketTimeouts(client_, 300);
  SignalStorm storm(pthread_self());
  char buffer[8];
  EXPECT_EQ(SocketReceive(client_, buffer, sizeof buffer), -1);
  EXPECT_EQ(LastSocketError(), 10060);
  // It ended while the signals still came, not once they stopped.
  EXPECT_TRUE(storm.Running());
  EXPECT_GE(storm.Sent(), 2);
}

TEST_F(SocketPairTiming, AWaitUnderSignalsLastsItsWholeTime) {
  SignalStorm storm(pthread_self());
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(WaitReadable(client_, 300));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(290));
  EXPECT_GE(storm.Sent(), 2);
}

TEST_F(SocketPair, AReceiveUnderSignalsGetsTheBytes) {
  SetSocketTimeouts(client_, 5000);
  SignalStorm storm(pthread_self());
  std::thread sender([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SocketSend(server_, "pong", 4);
  });
  char buffer[8] = {};
  EXPECT_EQ(SocketReceive(client_, buffer, sizeof buffer), 4);
  sender.join();
  EXPECT_EQ(std::string(buffer, 4), "pong");
}

#endif

TEST_F(SocketPair, ReceiveSeesTheEndOfTheStream) {
  CloseSocket(server_);
  server_ = kNoSocket;
  char buffer[8];
  EXPECT_EQ(SocketReceive(client_, buffer, sizeof buffer), 0);
}

TEST(Connect, RefusedPortGives10061) {
  int port = 0;
  SocketHandle listener = test::ListenOnLoopback(port);
  ASSERT_NE(listener, kNoSocket);
  CloseSocket(listener);  // nothing listens there any more
  SocketHandle s = OpenTcpSocket();
  EXPECT_EQ(ConnectSocket(s, *ParseIpv4(u"127.0.0.1"), static_cast<std::uint16_t>(port), 5000),
            10061);
  EXPECT_EQ(LastSocketError(), 10061);
  CloseSocket(s);
}

// The caller's work runs once while the TCP handshake is under way; the connect then completes as
// it would have, and a failure the work met in the socket layer is not the connect's.
TEST(Connect, WorkWhilePendingRunsOnceAndLeavesTheConnectItsOwnResult) {
  int port = 0;
  SocketHandle listener = test::ListenOnLoopback(port);
  ASSERT_NE(listener, kNoSocket);
  int runs = 0;
  const WhilePending work = [&] {
    ++runs;
    char byte = 0;
    SocketReceive(kNoSocket, &byte, 1);  // fails: a socket error of its own
  };
  SocketHandle s = OpenTcpSocket();
  EXPECT_EQ(
      ConnectSocket(s, *ParseIpv4(u"127.0.0.1"), static_cast<std::uint16_t>(port), 5000, work), 0);
  EXPECT_EQ(runs, 1);
  CloseSocket(s);
  CloseSocket(listener);  // nothing listens there any more

  s = OpenTcpSocket();
  EXPECT_EQ(
      ConnectSocket(s, *ParseIpv4(u"127.0.0.1"), static_cast<std::uint16_t>(port), 5000, work),
      10061);
  EXPECT_EQ(LastSocketError(), 10061);
  EXPECT_LE(runs, 2);  // the refusal may come before the connect is ever pending
  CloseSocket(s);
}

// Work that takes longer than the connect's time-out does not fail a connect that completed
// meanwhile: the connect is looked at once more after it.
TEST(Connect, WorkOutlastingTheTimeOutLeavesACompletedConnectConnected) {
  int port = 0;
  SocketHandle listener = test::ListenOnLoopback(port);
  ASSERT_NE(listener, kNoSocket);
  SocketHandle s = OpenTcpSocket();
  EXPECT_EQ(ConnectSocket(s, *ParseIpv4(u"127.0.0.1"), static_cast<std::uint16_t>(port), 20,
                          [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }),
            0);
  CloseSocket(s);
  CloseSocket(listener);
}

TEST(Connect, InjectedFaultGivesItsCode) {
  InjectFault(Fault::kConnect, 10065);
  SocketHandle s = OpenTcpSocket();
  EXPECT_EQ(ConnectSocket(s, *ParseIpv4(u"127.0.0.1"), 9, 5000), 10065);
  CloseSocket(s);
  ClearFaults();
}

}  // namespace
}  // namespace tessora::platform
