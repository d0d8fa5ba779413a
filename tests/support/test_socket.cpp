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

#include "base/error.h"

namespace tessora::test {

platform::SocketHandle ListenOnLoopback(int& port, int backlog, bool ipv6) {
  const int family = ipv6 ? AF_INET6 : AF_INET;
#if defined(_WIN32)
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  const SOCKET s = socket(family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return platform::kNoSocket;
  const auto handle = static_cast<platform::SocketHandle>(s);
#else
  const int s = socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) return platform::kNoSocket;
  const auto handle = static_cast<platform::SocketHandle>(s);
#endif
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr_in6 address6{};
  address6.sin6_family = AF_INET6;
  address6.sin6_addr.s6_addr[15] = 1;  // ::1
  sockaddr* bound =
      ipv6 ? reinterpret_cast<sockaddr*>(&address6) : reinterpret_cast<sockaddr*>(&address);
  socklen_t length = ipv6 ? sizeof address6 : sizeof address;
  if (bind(s, bound, length) != 0 || listen(s, backlog) != 0 ||
      getsockname(s, bound, &length) != 0) {
    platform::CloseSocket(handle);
    return platform::kNoSocket;
  }
  port = ntohs(ipv6 ? address6.sin6_port : address.sin_port);
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

std::string NameForBothLoopbacks() {
#if defined(__SANITIZE_THREAD__)
  // The library's bounded lookups use glibc's asynchronous lookup, whose threads glibc starts
  // itself, unseen by ThreadSanitizer: their first allocation crashes its runtime.
  return {};
#else
  constexpr platform::Ipv6Address kLoopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  const std::uint32_t loopback4 = *platform::ParseIpv4(u"127.0.0.1");
  for (const std::string name : {"localhost", "ip6-localhost", "ip6-loopback", "localhost6"}) {
    const std::u16string host(name.begin(), name.end());
    try {
      const std::vector<platform::Ipv6Address> found = platform::ResolveIpv6(host, 5000);
      if (!found.empty() && found.front() == kLoopback6 &&
          platform::ResolveIpv4(host, 5000) == loopback4) {
        return name;
      }
    } catch (const Error&) {
    }
  }
  return {};
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
