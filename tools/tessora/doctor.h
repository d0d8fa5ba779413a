// tessora doctor: checks, one after another, what a call of the library depends on, and prints one
// line per check: OK, WARN or FAIL (SKIP when an earlier failure leaves nothing to check), what
// was found, and for WARN and FAIL what to do.
//
//   library, openssl, endpoint file, settings, base URL, credentials, name resolution, TCP
//   connect, proxy tunnel, TLS handshake, clock
//
// The library is loaded by path, as a host does, for its file and version; every later check runs
// the library's own code, linked into the tool (catalogue, URL templating, name resolution and
// connect, the HTTP client's proxy tunnel, the TLS channel with the library's trust settings), so
// it meets what a call would meet. Nothing is sent to the API: the connection ends after the
// handshake.
#pragma once

#include "command_line.h"

namespace tessora::cli {

// Returns the exit code: 0 when no check failed (warnings allowed), 1 otherwise.
int RunDoctor(const Invocation& invocation);

}  // namespace tessora::cli
