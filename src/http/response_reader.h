// Reading a response from the connection: the status line and header block, then the body by the
// rules of HTTP/1.x as far as this client follows them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "http/connection.h"
#include "http/message.h"

namespace tessora {

// Header lines kept per header block (and per trailer block of a chunked body). A longer block
// fails the exchange with "Max header lines exceeded.": memory stays bounded (each line is at most
// Connection::kMaxLineLength bytes) and the reader cannot be kept busy without end.
inline constexpr std::size_t kMaxHeaderLines = 255;
// The largest body read into memory. Beyond it the exchange fails with "Max body size exceeded.";
// API answers are far smaller, and a 32-bit host must keep room for the decoded text too.
inline constexpr std::size_t kMaxContentBytes = std::size_t{64} * 1024 * 1024;
// Interim (100) answers dropped before the final one; more fail with "Too many interim responses.".
inline constexpr int kMaxInterimResponses = 16;
// How long a 3xx answer may keep its body waiting before the reader gives up on it.
inline constexpr int kRedirectBodyWaitMs = 5000;

// Reads the status line into ResponseText and the header block into RawHeaders, and takes the
// values of the headers. "Connection Closed Gracefully." when the connection ends before a status
// line. For a proxy's answer to a tunnel request an empty status line stands for
// "HTTP/1.0 200 OK" with "Connection: close", and no header lines are read.
void ReadResponseHead(Connection& connection, HttpResponse& response, bool tunnelAnswer = false);

// Reads the body that the head announces into Content, then lets charset declarations inside an
// HTML or XML body decide CharSet.
void ReadResponseBody(Connection& connection, HttpResponse& response);

}  // namespace tessora
