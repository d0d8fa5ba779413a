// A deadline for the receives of a TLS handshake on the calling thread. The socket BIOs consult it
// before each receive: a server that paces its handshake a byte at a time keeps every single
// receive short, and only a bound over all of them ends it.
#pragma once

#include "base/datetime.h"
#include "platform/socket.h"

namespace tessora {

// Puts a deadline (platform::NowSteady's clock) on the receives from `socket` while it lives; the
// socket's handshake runs on the thread that made it. `socketTimeoutMs` is the socket's own bound
// of a receive: while more time than that is left, a receive is left to it, so that a server that
// sends nothing still fails as it always did. (Kept by socket, not in a thread_local: in the
// Windows DLL a thread_local gives every calling thread a record of the C++ run-time's, which a
// thread that outlives an unload keeps.)
class ReceiveDeadlineScope {
 public:
  ReceiveDeadlineScope(platform::SocketHandle socket, DateTime deadline, int socketTimeoutMs);
  ~ReceiveDeadlineScope();
  ReceiveDeadlineScope(const ReceiveDeadlineScope&) = delete;
  ReceiveDeadlineScope& operator=(const ReceiveDeadlineScope&) = delete;

  // Whether a receive was refused because the deadline passed.
  bool Passed() const { return passed_; }

 private:
  friend bool WaitToReceive(platform::SocketHandle socket);

  platform::SocketHandle socket_;
  DateTime deadline_;
  int socketTimeoutMs_;
  bool passed_ = false;  // only the thread of the handshake touches it
  ReceiveDeadlineScope* next_ = nullptr;
};

// Milliseconds from now until `deadline` (0 once it has passed).
int MillisecondsUntil(DateTime deadline);

// For the socket BIOs, before each receive: true when the receive may go ahead (no deadline, more
// time left than the socket's bound, or bytes arrived in time); false when the deadline passed
// first, and the receive must then fail without reading.
bool WaitToReceive(platform::SocketHandle socket);

}  // namespace tessora
