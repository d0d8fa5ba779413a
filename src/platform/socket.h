// TCP sockets for the connection: IPv4 name resolution, blocking connect, send and receive with
// time-outs, and the socket errors as Windows Sockets numbers with the library's texts on every
// platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/socket_errors.h"

namespace tessora::platform {

// A socket handle (a SOCKET on Windows, a file descriptor elsewhere); kNoSocket when there is none.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// A Fault::kConnect injected with this code makes the connect hang until the socket is closed (from
// another thread), as a connect to a host that never answers does.
inline constexpr int kHangingConnect = -1;

// The IPv4 address of `host` in network byte order. A host written as a dotted IPv4 address is used
// unchanged; any other name is resolved for IPv4 stream sockets (internationalised names in their
// ASCII form where the platform can convert them) and the first address is taken. Raises the socket
// error of the resolution (for example 11001 "Host not found.").
std::uint32_t ResolveIpv4(const std::u16string& host);

// A new TCP socket; raises the socket error when none can be created.
SocketHandle OpenTcpSocket();
// Connects the socket, blocking. Returns 0 or the socket error. Closing the socket from another
// thread makes a connect in progress return.
int ConnectSocket(SocketHandle socket, std::uint32_t address, std::uint16_t port);
// Closes the socket; a connect, send or receive blocked on it in another thread returns.
void CloseSocket(SocketHandle socket);

// Receive and send time-outs (SO_RCVTIMEO / SO_SNDTIMEO) in milliseconds: a single receive or send
// that makes no progress for that long fails with 10060.
void SetSocketTimeouts(SocketHandle socket, int milliseconds);

// One send or receive: the byte count, 0 for a receive when the peer closed, -1 on failure (the
// error then is LastSocketError()). Sending never raises a signal.
int SocketSend(SocketHandle socket, const char* data, int size);
int SocketReceive(SocketHandle socket, char* buffer, int size);

// Whether the socket becomes readable (data, end of stream or an error) within the time-out.
bool WaitReadable(SocketHandle socket, int timeoutMs);

// The calling thread's last socket error as a Windows Sockets number (0 for none).
int LastSocketError();
// Forgets the last socket error, so that a later LastSocketError() of 0 means "none since".
void ClearSocketError();
// The POSIX errno value as a Windows Sockets number (used by the POSIX implementation and tests).
int SocketErrorFromErrno(int errnoValue);

// The library's text for a Windows Sockets number, for example "Connection refused." for 10061.
std::u16string SocketErrorText(int code);
// "Socket Error # <code>", CR LF, then the text.
std::u16string SocketErrorMessage(int code);
// Raises the socket failure for `code` (ErrorKind::kSocket, Code() = code) with SocketErrorMessage.
[[noreturn]] void RaiseSocketError(int code);

// A dotted IPv4 address ("a.b.c.d", each part 0 to 255 in decimal) in network byte order.
std::optional<std::uint32_t> ParseIpv4(std::u16string_view text);

// Parts shared by the implementations.
namespace detail {
// Blocks a fault-injected hanging connect until CloseSocket(socket) (bounded for safety).
void HangUntilClosed(SocketHandle socket);
void ReleaseHang(SocketHandle socket);
// A new socket under a handle value that may have been used before.
void ForgetSocket(SocketHandle socket);
}  // namespace detail

}  // namespace tessora::platform
