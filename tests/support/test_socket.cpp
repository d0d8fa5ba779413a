#include "support/test_socket.h"

#if defined(_WIN32)
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tessora::test {

platform::SocketHandle ListenOnLoopback(int& port, int backlog) {
#if defined(_WIN32)
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return platform::kNoSocket;
  const auto handle = static_cast<platform::SocketHandle>(s);
#else
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) return platform::kNoSocket;
  const auto handle = static_cast<platform::SocketHandle>(s);
#endif
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(s, backlog) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    platform::CloseSocket(handle);
    return platform::kNoSocket;
  }
  port = ntohs(address.sin_port);
  return handle;
}

platform::SocketHandle AcceptConnection(platform::SocketHandle listener, int timeoutMs) {
  if (!platform::WaitReadable(listener, timeoutMs)) return platform::kNoSocket;
#if defined(_WIN32)
  const SOCKET s = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  return s == INVALID_SOCKET ? platform::kNoSocket : static_cast<platform::SocketHandle>(s);
#else
  const int s = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
  return s < 0 ? platform::kNoSocket : static_cast<platform::SocketHandle>(s);
#endif
}

void ResetAndClose(platform::SocketHandle socket) {
  linger option{};
  option.l_onoff = 1;
  option.l_linger = 0;
#if defined(_WIN32)
  setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_LINGER,
             reinterpret_cast<const char*>(&option), sizeof option);
  closesocket(static_cast<SOCKET>(socket));
#else
  setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &option, sizeof option);
  close(static_cast<int>(socket));
#endif
}

}  // namespace tessora::test
