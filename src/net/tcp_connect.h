// Opening a TCP connection within a time-out.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace tessora {

// The longest single wait while the connect is pending.
using platform::kConnectPollStepMs;

// Raises "A Host is required" for an empty host and "A Port is required" for a port outside 1 to
// 65535: a connection cannot even be attempted.
void CheckConnectTarget(const std::u16string& host, int port);

// Resolves `host` for IPv4 and connects to its first address on the calling thread; only when the
// name has no IPv4 address, or the IPv4 connect failed, its IPv6 addresses are tried in turn (an
// IPv6 literal such as "::1" goes there at once). The lookups and the connects share timeoutMs (no
// limit when timeoutMs <= 0): a lookup that outlasts it fails with "Host name lookup timed out.",
// each connect is non-blocking and waited for in steps of at most kConnectPollStepMs. A failure is
// IPv4's when IPv4 was tried. Raises "A Host is required", "A Port is required" (a port outside 1
// to 65535), "Connect timed out." (after closing the socket), the resolution's socket error, or the
// connect's socket error ("Socket Error # %d" CR LF text; 10009 and 10038 with the text alone).
// Nothing is left open on failure. `whilePending` (it must not throw) runs at most once, while the
// first connect that got under way is pending (platform::ConnectSocket).
platform::SocketHandle ConnectTcp(const std::u16string& host, int port, int timeoutMs,
                                  const platform::WhilePending& whilePending = {});

}  // namespace tessora
