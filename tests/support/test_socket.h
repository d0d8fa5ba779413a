// Listening sockets on 127.0.0.1 for test servers (the library itself only connects).
#pragma once

#include "platform/socket.h"

namespace tessora::test {

// A socket listening on 127.0.0.1 at a port the system picks; `port` receives it. kNoSocket on
// failure.
platform::SocketHandle ListenOnLoopback(int& port, int backlog = 16);
// Accepts one connection, waiting at most timeoutMs; kNoSocket when none came.
platform::SocketHandle AcceptConnection(platform::SocketHandle listener, int timeoutMs);

// Closes the socket so that the connection is reset (SO_LINGER with a zero time-out, no shutdown).
void ResetAndClose(platform::SocketHandle socket);

}  // namespace tessora::test
