// Re-indents a response that looks like JSON for reading. It works on the text, not on a parsed
// tree: bytes inside strings and every scalar are copied exactly, only whitespace between tokens
// changes. Whatever it cannot vouch for (not an object or array, unbalanced brackets, text after
// the value, too deep, too large) is left to be printed as it came.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tessora::cli {

struct IndentOptions {
  int indent = 2;
  std::size_t maxDepth = 128;
  std::size_t maxInput = 16u << 20;
  std::size_t maxOutput = 64u << 20;
  // For double-byte ANSI code pages: tells a lead byte, whose trail byte may look like a
  // backslash or quote and must be copied with it. Null for single-byte code pages and UTF-8.
  bool (*isLeadByte)(unsigned char) = nullptr;
};

// The indented text, or nothing when `text` is not re-indented (see above).
std::optional<std::string> IndentJson(std::string_view text, const IndentOptions& options = {});

// A token made short enough to show: its start and end, never the whole of a longer token.
std::string ShortenToken(std::string_view token);

}  // namespace tessora::cli
