#include "net/tcp_connect.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>
#include <vector>

#include "base/error.h"

namespace tessora {

namespace {

// The connect's result as a failure.
[[noreturn]] void RaiseConnectFailure(int error) {
  if (error == platform::kConnectTimedOut) Raise(ErrorKind::kTimeout, u"Connect timed out.");
  if (error == kWsaBadFile || error == kWsaNotSocket) {
    Raise(ErrorKind::kSocket, platform::SocketErrorText(error), error);
  }
  platform::RaiseSocketError(error);
}

// Connects a new socket to `address`: the socket, or the connect's result after closing it.
template <class Address>
int TryConnect(platform::SocketHandle (*open)(), const Address& address, std::uint16_t port,
               int timeoutMs, const platform::WhilePending& whilePending,
               platform::SocketHandle& connected) {
  const platform::SocketHandle socket = open();
  const int error = platform::ConnectSocket(socket, address, port, timeoutMs, whilePending);
  if (error == 0) {
    connected = socket;
    return 0;
  }
  platform::CloseSocket(socket);
  return error;
}

// What is left of a time-out of timeoutMs begun at `start`: at least 1 ms, or timeoutMs itself
// when there is none (<= 0); nothing once it has passed.
std::optional<int> Remaining(std::chrono::steady_clock::time_point start, int timeoutMs) {
  if (timeoutMs <= 0) return timeoutMs;
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count();
  if (spent >= timeoutMs) return std::nullopt;
  return static_cast<int>(std::max<long long>(1, timeoutMs - spent));
}

}  // namespace

void CheckConnectTarget(const std::u16string& host, int port) {
  if (host.empty()) Raise(u"A Host is required");
  // (A proxy's configured port is cut to its low 16 bits before it gets here: ProxySettings.)
  if (port <= 0 || port > 0xFFFF) Raise(u"A Port is required");
}

platform::SocketHandle ConnectTcp(const std::u16string& host, int port, int timeoutMs,
                                  const platform::WhilePending& whilePending) {
  CheckConnectTarget(host, port);
  const auto portNumber = static_cast<std::uint16_t>(port);
  platform::SocketHandle connected = platform::kNoSocket;
  // The lookups and the connects share the time-out.
  const auto start = std::chrono::steady_clock::now();
  // The caller's work goes with the first connect that gets under way, not with a later one.
  bool workDone = !whilePending;
  const platform::WhilePending once = [&] {
    if (workDone) return;
    workDone = true;
    whilePending();
  };

  // IPv4 first, exactly as a client that knows no other; its failure is the one reported.
  std::exception_ptr ipv4Failure;
  std::optional<int> ipv4Error;
  const bool ipv6Literal = host.find(u':') != std::u16string::npos;
  if (!ipv6Literal) {
    std::optional<std::uint32_t> address;
    try {
      address = platform::ResolveIpv4(host, timeoutMs);
    } catch (const Error& failure) {
      if (failure.Kind() != ErrorKind::kSocket) throw;  // a lookup that timed out ends here
      ipv4Failure = std::current_exception();
    }
    if (address) {
      const int error = TryConnect(&platform::OpenTcpSocket, *address, portNumber,
                                   Remaining(start, timeoutMs).value_or(1), once, connected);
      if (error == 0) return connected;
      ipv4Error = error;
    }
  }

  // IPv6 only when IPv4 had no address or could not connect, within what is left of the time-out:
  // a network whose IPv6 is broken costs nothing where IPv4 works. An IPv4 literal has no other
  // address.
  std::optional<int> ipv6Error;
  std::exception_ptr ipv6Failure;
  if (!platform::ParseIpv4(host)) {
    try {
      std::optional<int> left = Remaining(start, timeoutMs);
      for (const platform::Ipv6Address& address :
           left ? platform::ResolveIpv6(host, *left) : std::vector<platform::Ipv6Address>{}) {
        left = Remaining(start, timeoutMs);
        if (!left) break;
        const int error =
            TryConnect(&platform::OpenTcpSocket6, address, portNumber, *left, once, connected);
        if (error == 0) return connected;
        if (!ipv6Error) ipv6Error = error;
      }
    } catch (const Error&) {
      if (!ipv4Error && !ipv4Failure) throw;  // an IPv6 literal's own failure
      // Otherwise the IPv4 failure is the one to report.
    }
  }

  if (ipv4Error) RaiseConnectFailure(*ipv4Error);
  if (ipv4Failure) std::rethrow_exception(ipv4Failure);
  if (ipv6Error) RaiseConnectFailure(*ipv6Error);
  RaiseConnectFailure(platform::kConnectTimedOut);
}

}  // namespace tessora
