// HTTP/1.x framing for the sandbox: finding and parsing a request head, splitting the request
// target into route and query, and writing a response.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "payment_api.h"

namespace tessora::sandbox {

constexpr std::size_t kMaxHeadBytes = 16384;
constexpr std::size_t kMaxHeaderLines = 100;
constexpr std::size_t kMaxBodyBytes = 1u << 20;

struct HttpRequest {
  std::string method;
  std::string target;
  bool http10 = false;  // HTTP/1.0 (otherwise 1.1)
  Fields headers;
  std::size_t contentLength = 0;
  bool keepAlive = false;  // whether the connection stays open after the answer

  // The value of the first header called `name` (any letter case).
  std::optional<std::string> Header(std::string_view name) const;
};

// A request head that cannot be served: the status to answer with before closing.
struct HeadError {
  int status;
  std::string message;
};

// Where the head in `buffer` ends: the offset just after its empty line, or npos while it is
// incomplete. Empty lines before the request line are part of the head.
std::size_t FindHeadEnd(std::string_view buffer);

// Parses the request line and header lines (`head` as FindHeadEnd delimits it). Lines end at
// LF with an optional CR. The target is what lies between the method and the version, spaces
// included: the library inserts route values unencoded.
std::optional<HttpRequest> ParseRequestHead(std::string_view head, HeadError& error);

// Splits a request target under `prefix` ("/api.tessora.net") into the decoded route
// ("/v1/charges") and query fields. False when the target is not under the prefix.
bool SplitTarget(const std::string& target, const std::string& prefix, std::string& route,
                 Fields& query);

std::string PercentDecode(std::string_view text);

// The full response: status line, headers (JSON content type with charset, length, connection)
// and body.
std::string SerializeResponse(const ApiResponse& response, bool keepAlive);

}  // namespace tessora::sandbox
