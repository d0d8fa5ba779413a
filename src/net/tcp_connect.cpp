#include "net/tcp_connect.h"

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
               int timeoutMs, platform::SocketHandle& connected) {
  const platform::SocketHandle socket = open();
  const int error = platform::ConnectSocket(socket, address, port, timeoutMs);
  if (error == 0) {
    connected = socket;
    return 0;
  }
  platform::CloseSocket(socket);
  return error;
}

}  // namespace

platform::SocketHandle ConnectTcp(const std::u16string& host, int port, int timeoutMs) {
  if (host.empty()) Raise(u"A Host is required");
  // (A proxy's configured port is cut to its low 16 bits before it gets here: ProxySettings.)
  if (port <= 0 || port > 0xFFFF) Raise(u"A Port is required");
  const auto portNumber = static_cast<std::uint16_t>(port);
  platform::SocketHandle connected = platform::kNoSocket;

  // IPv4 first, exactly as a client that knows no other; its failure is the one reported.
  std::exception_ptr ipv4Failure;
  std::optional<int> ipv4Error;
  const bool ipv6Literal = host.find(u':') != std::u16string::npos;
  if (!ipv6Literal) {
    std::optional<std::uint32_t> address;
    try {
      address = platform::ResolveIpv4(host);
    } catch (const Error& failure) {
      if (failure.Kind() != ErrorKind::kSocket) throw;
      ipv4Failure = std::current_exception();
    }
    if (address) {
      const int error =
          TryConnect(&platform::OpenTcpSocket, *address, portNumber, timeoutMs, connected);
      if (error == 0) return connected;
      ipv4Error = error;
    }
  }

  // IPv6 only when IPv4 had no address or could not connect: a network whose IPv6 is broken costs
  // nothing where IPv4 works. An IPv4 literal has no other address.
  if (platform::ParseIpv4(host)) RaiseConnectFailure(*ipv4Error);
  std::optional<int> ipv6Error;
  std::exception_ptr ipv6Failure;
  try {
    for (const platform::Ipv6Address& address : platform::ResolveIpv6(host)) {
      const int error =
          TryConnect(&platform::OpenTcpSocket6, address, portNumber, timeoutMs, connected);
      if (error == 0) return connected;
      if (!ipv6Error) ipv6Error = error;
    }
  } catch (const Error& failure) {
    if (failure.Kind() != ErrorKind::kSocket) throw;
    ipv6Failure = std::current_exception();
  }

  if (ipv4Error) RaiseConnectFailure(*ipv4Error);
  if (ipv4Failure) std::rethrow_exception(ipv4Failure);
  if (ipv6Error) RaiseConnectFailure(*ipv6Error);
  std::rethrow_exception(ipv6Failure);
}

}  // namespace tessora
