#include "net/tcp_connect.h"

#include <algorithm>
#include <chrono>

#include "base/error.h"

namespace tessora {

platform::SocketHandle ConnectTcp(const std::u16string& host, int port, int timeoutMs) {
  if (host.empty()) Raise(u"A Host is required");
  // (A proxy's configured port is cut to its low 16 bits before it gets here: ProxySettings.)
  if (port <= 0 || port > 0xFFFF) Raise(u"A Port is required");
  const auto portNumber = static_cast<std::uint16_t>(port);
  // The lookup and the connect share the time-out.
  const auto start = std::chrono::steady_clock::now();
  const std::uint32_t address = platform::ResolveIpv4(host, timeoutMs);
  int connectMs = timeoutMs;
  if (timeoutMs > 0) {
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    connectMs = static_cast<int>(std::max<long long>(1, timeoutMs - spent));
  }
  const platform::SocketHandle socket = platform::OpenTcpSocket();
  const int error = platform::ConnectSocket(socket, address, portNumber, connectMs);
  if (error == 0) return socket;
  platform::CloseSocket(socket);
  if (error == platform::kConnectTimedOut) Raise(ErrorKind::kTimeout, u"Connect timed out.");
  if (error == kWsaBadFile || error == kWsaNotSocket) {
    Raise(ErrorKind::kSocket, platform::SocketErrorText(error), error);
  }
  platform::RaiseSocketError(error);
}

}  // namespace tessora
