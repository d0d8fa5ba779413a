#include "base64.h"

#include <cstdint>

namespace tessora::tools {

std::optional<std::string> DecodeBase64(std::string_view text) {
  std::string out;
  std::uint32_t buffer = 0;
  int bits = 0;
  std::size_t padding = 0;
  for (const char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') {
      value = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      value = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      value = c - '0' + 52;
    } else if (c == '+') {
      value = 62;
    } else if (c == '/') {
      value = 63;
    } else if (c == '=') {
      ++padding;
      continue;
    } else {
      return std::nullopt;
    }
    if (padding > 0) return std::nullopt;  // data after padding
    buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  if (padding > 2 || (text.size() % 4) != 0) return std::nullopt;
  return out;
}

}  // namespace tessora::tools
