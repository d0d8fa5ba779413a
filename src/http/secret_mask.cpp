#include "http/secret_mask.h"

#include <algorithm>
#include <array>

#include "base/text.h"

namespace tessora {

namespace {

bool SameAsciiNoCase(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (AsciiLower(left[i]) != AsciiLower(right[i])) return false;
  }
  return true;
}

// Where a header value ends: at a line end, raw or rendered, or at the end of the text. It looks
// no further than that end, so that a record of many short secret lines costs its length once.
std::size_t ValueEnd(std::string_view text, std::size_t from) {
  for (std::size_t at = from; at < text.size(); ++at) {
    if (text[at] == '\r' || text[at] == '\n') return at;
    if (text[at] != '<') continue;
    for (const std::string_view marker : {"<EOL>", "<CR>", "<LF>"}) {
      if (text.substr(at, marker.size()) == marker) return at;
    }
  }
  return text.size();
}

// After a line end: the position the next line starts at, or npos.
std::size_t LineStartAt(std::string_view text, std::size_t at) {
  if (text[at] == '\n') return at + 1;
  for (const std::string_view marker : {"<EOL>", "<LF>"}) {
    if (text.substr(at, marker.size()) == marker) return at + marker.size();
  }
  return std::string_view::npos;
}

constexpr std::array<std::string_view, 3> kSecretHeaders = {"Authorization", "Proxy-Authorization",
                                                            "partner-token"};

// Masks the value of a secret header line starting at `line`; returns where its value ends, or
// `line` when it is not such a line.
std::size_t MaskHeaderLine(std::string_view text, std::size_t line, std::string& out) {
  for (const std::string_view name : kSecretHeaders) {
    if (line + name.size() + 1 > text.size()) continue;
    if (!SameAsciiNoCase(text.substr(line, name.size()), name)) continue;
    if (text[line + name.size()] != ':') continue;
    std::size_t valueStart = line + name.size() + 1;
    while (valueStart < text.size() && text[valueStart] == ' ')
      ++valueStart;
    const std::size_t valueEnd = ValueEnd(text, valueStart);
    std::string_view value = text.substr(valueStart, valueEnd - valueStart);
    out.append(text.substr(line, valueStart - line));
    bool showNothing = false;
    if (name != "partner-token") {
      // The scheme stays: "Basic ", "Bearer " (or what the server's token type said).
      const std::size_t blank = value.find(' ');
      if (blank != std::string_view::npos) {
        // Basic credentials show nothing: their last characters would spell the end of the
        // password.
        showNothing = SameAsciiNoCase(value.substr(0, blank), "Basic");
        out.append(value.substr(0, blank + 1));
        value.remove_prefix(blank + 1);
      }
    }
    out += showNothing ? std::string("****") : MaskedSecret(value);
    return valueEnd;
  }
  return line;
}

// The members of a token answer that are secrets: the token the calls carry, and the ones a
// server may add that obtain or stand for a token.
constexpr std::array<std::string_view, 3> kSecretMembers = {"access_token", "refresh_token",
                                                            "id_token"};

// The length of the secret member's name that starts at `at` with its opening quote, and ends with
// the same quote; 0 when there is none.
std::size_t SecretMemberAt(std::string_view text, std::size_t at) {
  const char quote = text[at];
  for (const std::string_view name : kSecretMembers) {
    if (at + name.size() + 2 > text.size()) continue;
    if (!SameAsciiNoCase(text.substr(at + 1, name.size()), name)) continue;
    if (text[at + 1 + name.size()] == quote) return name.size();
  }
  return 0;
}

// Masks the string value of a secret member of a token answer whose name starts at `at` (its
// opening quote included); returns where the member's value ends, or `at` when there is none to
// mask.
std::size_t MaskAccessToken(std::string_view text, std::size_t at, std::string& out) {
  const std::size_t nameSize = SecretMemberAt(text, at);
  if (nameSize == 0) return at;
  std::size_t i = at + nameSize + 2;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  if (i >= text.size() || text[i] != ':') return at;
  ++i;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  if (i >= text.size() || (text[i] != '"' && text[i] != '\'')) return at;
  const char valueQuote = text[i];
  const std::size_t valueStart = i + 1;
  std::size_t valueEnd = valueStart;
  while (valueEnd < text.size() && text[valueEnd] != valueQuote) {
    valueEnd += text[valueEnd] == '\\' ? 2 : 1;
  }
  valueEnd = std::min(valueEnd, text.size());
  out.append(text.substr(at, valueStart - at));
  out += MaskedSecret(text.substr(valueStart, valueEnd - valueStart));
  return valueEnd;
}

}  // namespace

std::string MaskedSecret(std::string_view secret) {
  constexpr std::size_t kShown = 4;
  if (secret.size() <= kShown) return "****";
  return "****" + std::string(secret.substr(secret.size() - kShown));
}

std::string MaskSecrets(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t lineStart = LineStartAt(text, i);
    if (lineStart != std::string_view::npos) {
      out.append(text.substr(i, lineStart - i));
      i = MaskHeaderLine(text, lineStart, out);
      continue;
    }
    if (text[i] == '"' || text[i] == '\'') {
      const std::size_t end = MaskAccessToken(text, i, out);
      if (end != i) {
        i = end;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

}  // namespace tessora
