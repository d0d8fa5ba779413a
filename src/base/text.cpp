#include "base/text.h"

namespace tessora {

namespace {

constexpr char16_t kReplacement = u'\uFFFD';

void AppendCodePoint(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::u16string Utf8ToText(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = p[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    // Length and the allowed range of the second byte (which excludes overlong forms and
    // surrogates), as in the Unicode table of well-formed sequences.
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    char32_t cp = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2, cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    std::size_t k = 1;
    for (; k < len && i + k < n; ++k) {
      const unsigned char c = p[i + k];
      if (k == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF)) break;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (k == len) {
      AppendCodePoint(out, cp);
    } else {
      out.push_back(kReplacement);  // one replacement for the maximal invalid subpart
    }
    i += k;
  }
  return out;
}

std::string TextToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (SurrogatePairAt(text, i)) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string BytesToText(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out[i] = static_cast<unsigned char>(bytes[i]);
  }
  return out;
}

namespace {

// One byte per character: characters up to `highest` as themselves, any other as "?" (a
// surrogate pair is one character, so one "?").
std::string TextToSingleBytes(std::u16string_view text, char16_t highest) {
  std::string out(text.size(), '\0');
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c <= highest) {
      out[n++] = static_cast<char>(c);
      continue;
    }
    out[n++] = '?';
    if (SurrogatePairAt(text, i)) ++i;
  }
  out.resize(n);
  return out;
}

}  // namespace

std::string TextToBytes(std::u16string_view text) {
  return TextToSingleBytes(text, 0xFF);
}

std::u16string AsciiBytesToText(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out[i] = b < 0x80 ? static_cast<char16_t>(b) : kReplacement;
  }
  return out;
}

std::string TextToAscii(std::u16string_view text) {
  return TextToSingleBytes(text, 0x7F);
}

std::u16string AsciiToText(std::string_view ascii) {
  return BytesToText(ascii);
}

std::u16string AsciiUpperCase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out)
    c = AsciiUpper(c);
  return out;
}

std::u16string AsciiLowerCase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out)
    c = AsciiLower(c);
  return out;
}

bool SameTextAscii(std::u16string_view left, std::u16string_view right) {
  if (left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (AsciiUpper(left[i]) != AsciiUpper(right[i])) return false;
  }
  return true;
}

std::u16string IntToText(std::int64_t value) {
  return AsciiToText(std::to_string(value));
}

}  // namespace tessora
