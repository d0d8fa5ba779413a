// The bytes of an endpoint file as text.
#include "base/text.h"
#include "catalogue/catalogue.h"
#include "platform/codepage.h"

namespace tessora {

namespace {

bool StartsWith(std::string_view bytes, std::string_view mark) {
  return bytes.substr(0, mark.size()) == mark;
}

// UTF-16 code units from byte pairs; an odd last byte is dropped.
std::u16string Utf16ToText(std::string_view bytes, bool bigEndian) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    text.push_back(
        static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first));
  }
  return text;
}

std::u16string DecodeByMark(std::string_view bytes) {
  if (StartsWith(bytes, "\xEF\xBB\xBF")) return Utf8ToText(bytes.substr(3));
  if (StartsWith(bytes, "\xFF\xFE")) return Utf16ToText(bytes.substr(2), false);
  if (StartsWith(bytes, "\xFE\xFF")) return Utf16ToText(bytes.substr(2), true);
  return platform::AnsiToText(bytes);
}

}  // namespace

// Every line break (CR LF, lone CR, lone LF) becomes CR LF and the last line gets one too. The text
// ends at its first NUL: a UTF-16 file without a mark, read as ANSI text, stops at its first zero
// byte. One pass, as the file may be large.
std::u16string EndpointFileText(std::string_view bytes) {
  const std::u16string decoded = DecodeByMark(bytes);
  std::u16string text;
  text.reserve(decoded.size() + 2);
  const std::size_t size = decoded.size();
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = decoded[i];
    if (c == u'\0') return text;
    if (c == u'\r' || c == u'\n') {
      text += u"\r\n";
      if (c == u'\r' && i + 1 < size && decoded[i + 1] == u'\n') ++i;
    } else {
      text.push_back(c);
    }
  }
  if (size > 0 && decoded.back() != u'\r' && decoded.back() != u'\n') text += u"\r\n";
  return text;
}

}  // namespace tessora
