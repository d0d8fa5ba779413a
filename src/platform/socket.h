// TCP sockets for the connection: IPv4 name resolution (and IPv6 for the fallback), a connect
// within a time-out, blocking send and receive with time-outs, and the socket errors as Windows
// Sockets numbers with the library's texts on every platform.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/socket_errors.h"

namespace tessora::platform {

// A socket handle (a SOCKET on Windows, a file descriptor elsewhere); kNoSocket when there is none.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// A Fault::kConnect injected with this code makes the connect hang until its time-out passes, as a
// connect to a host that never answers does.
inline constexpr int kHangingConnect = -1;

// The longest single wait while a connect is pending.
inline constexpr int kConnectPollStepMs = 125;
// ConnectSocket's answer when its time-out passed first.
inline constexpr int kConnectTimedOut = -2;

// The IPv4 address of `host` in network byte order. A host written as a dotted IPv4 address is used
// unchanged; any other name is resolved for IPv4 stream sockets (internationalised names in their
// ASCII form where the platform can convert them) and the first address is taken. Raises the socket
// error of the resolution (for example 11001 "Host not found."). With timeoutMs > 0 a resolver
// that has not answered by then fails the resolution with kTimeout "Host name lookup timed out."
// (POSIX, ASCII names: glibc's asynchronous lookup, whose request is left to the resolver when it
// cannot be cancelled, an internationalised name converted first with libidn2; Windows:
// GetAddrInfoW on a thread of its own, left to finish by itself).
std::uint32_t ResolveIpv4(const std::u16string& host, int timeoutMs = 0);

// An IPv6 address, 16 bytes in network order.
using Ipv6Address = std::array<std::uint8_t, 16>;
// The most IPv6 addresses of one name that are tried: a resolver's answer is not an unbounded list
// of connect attempts.
inline constexpr std::size_t kMostAddresses = 8;
// The IPv6 addresses of `host` for stream sockets, in the resolver's order: an IPv6 literal
// (without brackets) as it is, any other name resolved for IPv6 only. Raises the socket error of
// the resolution (11001 "Host not found." when the name has no IPv6 address).
std::vector<Ipv6Address> ResolveIpv6(const std::u16string& host, int timeoutMs = 0);

// A new TCP socket, with Nagle's algorithm off (TCP_NODELAY): every write is a whole message or
// TLS flight, and the request that follows the client's last flight of a resumed handshake must not
// wait for the peer's delayed acknowledgement. Raises the socket error when none can be created.
SocketHandle OpenTcpSocket();
// The same for IPv6.
SocketHandle OpenTcpSocket6();
// Work a caller does while its connect is under way; it must not throw.
using WhilePending = std::function<void()>;
// Connects the socket within timeoutMs (no limit when timeoutMs <= 0) on the calling thread: the
// connect starts in non-blocking mode and is waited for in steps of at most kConnectPollStepMs;
// the socket blocks again afterwards. `whilePending`, when given, runs once after the connect has
// started and before it is waited for (also when it completed at once; not when it failed at
// once): the TCP handshake goes on meanwhile. Its time counts against timeoutMs, and the connect
// is looked at once more after it, so that one that completed meanwhile succeeds. Returns 0, the
// socket error (LastSocketError() too), or kConnectTimedOut; the caller closes the socket after a
// failure.
int ConnectSocket(SocketHandle socket, std::uint32_t address, std::uint16_t port, int timeoutMs,
                  const WhilePending& whilePending = {});
// The same for a socket of OpenTcpSocket6 and an IPv6 address.
int ConnectSocket(SocketHandle socket, const Ipv6Address& address, std::uint16_t port,
                  int timeoutMs, const WhilePending& whilePending = {});
// Closes the socket; a send or receive blocked on it in another thread returns.
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
// How long the next wait of a connect begun at `start` may be: at most kConnectPollStepMs, -1 when
// timeoutMs (> 0) has passed.
int ConnectWaitStep(std::chrono::steady_clock::time_point start, int timeoutMs);
// A fault-injected hanging connect: waits out the time-out and returns kConnectTimedOut (without
// one, gives up after two minutes with 10060).
int HangingConnect(int timeoutMs);
}  // namespace detail

}  // namespace tessora::platform
