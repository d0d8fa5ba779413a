#include "http/charset/charset.h"

#include <algorithm>
#include <iterator>

#include "base/text.h"
#include "http/headers.h"
#include "platform/codepage.h"

namespace tessora {

namespace {

struct CharSetEntry {
  std::string_view name;  // lower case
  unsigned codePage;
};

constexpr CharSetEntry kCharSets[] = {
#include "http/charset/charset_table.inc"
};

constexpr unsigned kUtf16Le = 1200;
constexpr unsigned kUtf16Be = 1201;
constexpr unsigned kUsAscii = 20127;
constexpr unsigned kUtf7 = 65000;
constexpr unsigned kUtf8 = 65001;

std::u16string DecodeUtf16(std::string_view bytes, bool bigEndian) {
  std::u16string text;
  text.reserve(bytes.size() / 2 + 1);
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    text.push_back(
        static_cast<char16_t>(bigEndian ? (first << 8 | second) : (second << 8 | first)));
  }
  if (i < bytes.size()) text.push_back(u'\uFFFD');  // an odd byte at the end
  return text;
}

int Base64Value(unsigned char unit) {
  if (unit >= 'A' && unit <= 'Z') return unit - 'A';
  if (unit >= 'a' && unit <= 'z') return unit - 'a' + 26;
  if (unit >= '0' && unit <= '9') return unit - '0' + 52;
  if (unit == '+') return 62;
  if (unit == '/') return 63;
  return -1;
}

// UTF-7: ASCII as it stands; "+" opens a run of modified Base64 holding UTF-16 code units, ended
// by any other character (a "-" ending it is dropped); "+-" is a plus sign.
std::u16string DecodeUtf7(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b >= 0x80) {
      text.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (b != '+') {
      text.push_back(b);
      ++i;
      continue;
    }
    ++i;
    if (i < bytes.size() && bytes[i] == '-') {
      text.push_back(u'+');
      ++i;
      continue;
    }
    std::uint32_t bits = 0;
    int bitCount = 0;
    int value;
    while (i < bytes.size() && (value = Base64Value(static_cast<unsigned char>(bytes[i]))) >= 0) {
      bits = (bits << 6 | static_cast<std::uint32_t>(value)) & 0x3FFFFF;
      bitCount += 6;
      if (bitCount >= 16) {
        bitCount -= 16;
        text.push_back(static_cast<char16_t>(bits >> bitCount));
      }
      ++i;
    }
    if (i < bytes.size() && bytes[i] == '-') ++i;
  }
  return text;
}

}  // namespace

unsigned CodePageOfCharSet(std::u16string_view name) {
  name = TrimText(name);
  std::string key(name.size(), '\0');
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] >= 0x80) return 0;  // registered names are ASCII
    key[i] = static_cast<char>(AsciiLower(name[i]));
  }
  const auto* end = std::end(kCharSets);
  const auto* hit = std::lower_bound(
      std::begin(kCharSets), end, key,
      [](const CharSetEntry& entry, const std::string& sought) { return entry.name < sought; });
  return hit != end && hit->name == key ? hit->codePage : 0;
}

std::u16string BodyToText(std::string_view bytes, std::u16string_view charSet) {
  const unsigned codePage = CodePageOfCharSet(charSet);
  switch (codePage) {
    case 0:
      return BytesToText(bytes);
    case kUtf8:
      return Utf8ToText(bytes);
    case kUtf7:
      return DecodeUtf7(bytes);
    case kUtf16Le:
      return DecodeUtf16(bytes, false);
    case kUtf16Be:
      return DecodeUtf16(bytes, true);
    case kUsAscii:
      return AsciiBytesToText(bytes);
    default:
      if (std::optional<std::u16string> text = platform::CodePageToText(codePage, bytes)) {
        return *std::move(text);
      }
      return BytesToText(bytes);
  }
}

}  // namespace tessora
