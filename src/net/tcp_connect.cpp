#include "net/tcp_connect.h"

#include "base/error.h"

namespace tessora {

platform::SocketHandle ConnectTcp(const std::u16string& host, int port, int timeoutMs) {
  if (host.empty()) Raise(u"A Host is required");
  const auto portNumber = static_cast<std::uint16_t>(static_cast<unsigned>(port) & 0xFFFFu);
  if (portNumber == 0) Raise(u"A Port is required");
  const std::uint32_t address = platform::ResolveIpv4(host);
  const platform::SocketHandle socket = platform::OpenTcpSocket();
  const int error = platform::ConnectSocket(socket, address, portNumber, timeoutMs);
  if (error == 0) return socket;
  platform::CloseSocket(socket);
  if (error == platform::kConnectTimedOut) Raise(ErrorKind::kTimeout, u"Connect timed out.");
  if (error == kWsaBadFile || error == kWsaNotSocket) {
    Raise(ErrorKind::kSocket, platform::SocketErrorText(error), error);
  }
  platform::RaiseSocketError(error);
}

}  // namespace tessora
