// Opening a TCP connection within a time-out.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace tessora {

// The longest single wait while the connect is pending.
using platform::kConnectPollStepMs;

// Resolves `host` (outside the time-out: an unresolvable name fails at once) and connects to it on
// the calling thread: a non-blocking connect, waited for in steps of at most kConnectPollStepMs,
// up to timeoutMs in total (no limit when timeoutMs <= 0). Raises "A Host is required", "A Port is
// required" (a port outside 1 to 65535), "Connect timed out." (after closing the socket), the
// resolution's socket error, or the connect's socket error ("Socket Error # %d" CR LF text; 10009
// and 10038 with the text alone). Nothing is left open on failure.
platform::SocketHandle ConnectTcp(const std::u16string& host, int port, int timeoutMs);

}  // namespace tessora
