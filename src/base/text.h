// Portable text helpers. Library text is UTF-16 (std::u16string); bytes are std::string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessora {

// UTF-8 to UTF-16. Each maximal invalid sequence becomes U+FFFD; never fails.
std::u16string Utf8ToText(std::string_view bytes);
// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD; never fails.
std::string TextToUtf8(std::u16string_view text);

// Each byte becomes the character with the same number (the ISO-8859-1 mapping).
std::u16string BytesToText(std::string_view bytes);
// Each character up to U+00FF becomes one byte of that value, any other character "?" (a
// surrogate pair is one character).
std::string TextToBytes(std::u16string_view text);
// Each byte up to 0x7F becomes the character with the same number, any other byte U+FFFD.
std::u16string AsciiBytesToText(std::string_view bytes);
// Each character up to U+007F becomes one byte, any other character "?" (a surrogate pair is one
// character).
std::string TextToAscii(std::u16string_view text);

// Plain ASCII text as library text (for literals and numbers).
std::u16string AsciiToText(std::string_view ascii);

// The letters a to z become A to Z; nothing else changes.
// Whether text[i] and text[i + 1] are a high and a low surrogate: one character outside the BMP.
constexpr bool SurrogatePairAt(std::u16string_view text, std::size_t at) {
  return text[at] >= 0xD800 && text[at] <= 0xDBFF && at + 1 < text.size() &&
         text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF;
}

// ASCII case mapping: the letters A-Z and a-z change, nothing else.
constexpr char16_t AsciiLower(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}
constexpr char16_t AsciiUpper(char16_t unit) {
  return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - (u'a' - u'A')) : unit;
}
constexpr char AsciiLower(char unit) {
  return unit >= 'A' && unit <= 'Z' ? static_cast<char>(unit + ('a' - 'A')) : unit;
}
std::u16string AsciiUpperCase(std::u16string_view text);
std::u16string AsciiLowerCase(std::u16string_view text);
// Equality with the letters a to z and A to Z compared alike; other code units compare exactly.
bool SameTextAscii(std::u16string_view left, std::u16string_view right);

std::u16string IntToText(std::int64_t value);

}  // namespace tessora
