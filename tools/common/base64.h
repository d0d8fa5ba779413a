// Base64 (standard alphabet, "=" padding) read back into bytes, for the tools: the sandbox reads
// the basic credentials a client sends, the tool's tests read PEM certificates.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessora::tools {

// The bytes of `text`; nothing when it holds a character outside the alphabet, data after the
// padding, more than two padding characters, or a length that is not a multiple of four.
std::optional<std::string> DecodeBase64(std::string_view text);

}  // namespace tessora::tools
