// Listening sockets on 127.0.0.1 (or ::1) for test servers (the library itself only connects).
#pragma once

#include <string>

#include "platform/socket.h"

namespace tessora::test {

// A socket listening on 127.0.0.1 (::1 with `ipv6`) at a port the system picks; `port` receives it.
// kNoSocket on failure (also where the system has no IPv6 loopback).
platform::SocketHandle ListenOnLoopback(int& port, int backlog = 16, bool ipv6 = false);
// Accepts one connection, waiting at most timeoutMs; kNoSocket when none came.
platform::SocketHandle AcceptConnection(platform::SocketHandle listener, int timeoutMs);

// A host name this machine's resolver gives both ::1 and 127.0.0.1 (glibc answers an IPv4 lookup
// of a hosts file's ::1 line with 127.0.0.1): "localhost" or one of the usual IPv6 loopback names.
// Empty when there is none (many containers have no IPv6 line in their hosts file), and in a
// ThreadSanitizer build, where a bounded lookup cannot run.
std::string NameForBothLoopbacks();

// Closes the socket so that the connection is reset (SO_LINGER with a zero time-out, no shutdown).
void ResetAndClose(platform::SocketHandle socket);

}  // namespace tessora::test
