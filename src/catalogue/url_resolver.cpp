// Route placeholders and the query string.
#include <string>
#include <unordered_map>

#include "base/text.h"
#include "catalogue/catalogue.h"
#include "platform/locale.h"

namespace tessora {

namespace {

// Characters from "!" to DEL that still need percent-encoding in a query.
bool NeedsEncoding(char32_t unit) {
  if (unit < 0x21 || unit > 0x7F) return true;
  switch (unit) {
    case u'*':
    case u'<':
    case u'>':
    case u'#':
    case u'%':
    case u'"':
    case u'{':
    case u'}':
    case u'|':
    case u'\\':
    case u'^':
    case u'[':
    case u']':
    case u'`':
      return true;
    default:
      return false;
  }
}

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Each character that needs it becomes the UTF-8 bytes of the character as %XX with upper-case
// hexadecimal digits; a surrogate pair is one character, a lone surrogate is encoded as U+FFFD.
std::u16string PercentEncode(std::u16string_view text) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string out;
  out.reserve(text.size() * 3);
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t length = 1;
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) length = 2;
    if (length == 1 && !NeedsEncoding(text[i])) {
      out.push_back(text[i]);
    } else {
      for (const char byte : TextToUtf8(text.substr(i, length))) {
        const auto b = static_cast<unsigned char>(byte);
        out.push_back(u'%');
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0x0F]);
      }
    }
    i += length;
  }
  return out;
}

// An entry holding a double quote or "&" is wrapped in double quotes with its own ones doubled, so
// that the server can tell it from the separators.
void AppendEntry(std::u16string& combo, const std::u16string& entry) {
  if (entry.find_first_of(u"\"&") == std::u16string::npos) {
    combo += entry;
    return;
  }
  combo.push_back(u'"');
  for (const char16_t c : entry) {
    combo.push_back(c);
    if (c == u'"') combo.push_back(u'"');
  }
  combo.push_back(u'"');
}

}  // namespace

std::u16string UrlResolver::ResolveUrlParameters(std::u16string_view url,
                                                 const ParameterList& parameters) {
  std::u16string result(url);
  // The URL upper-cased, kept in step with it: upper-casing maps each code unit alone and keeps
  // the length, so a position in it is one in the URL, and a replaced stretch is upper-cased
  // alone. (Upper-casing the whole URL for every entry made a block of many entries quadratic.)
  std::u16string upper = platform::UpperCaseText(result);
  // The value for each name, looked up in the list once: a block that repeats one name many times
  // does not scan the list for each.
  std::unordered_map<std::u16string, std::u16string> values;
  const std::size_t count = parameters.Count();
  for (std::size_t i = 0; i < count && result.size() <= kMaxResolvedUrl; ++i) {
    const std::u16string_view name = parameters.Name(i);
    std::u16string token = u":";
    token += name;
    const std::size_t at = upper.find(platform::UpperCaseText(token));
    if (at == std::u16string::npos) continue;
    auto found = values.find(std::u16string(name));
    if (found == values.end()) {
      found = values.emplace(std::u16string(name), parameters.Value(name)).first;
    }
    const std::u16string& value = found->second;
    result.replace(at, token.size(), value);
    upper.replace(at, token.size(), platform::UpperCaseText(value));
  }
  return result;
}

std::u16string UrlResolver::ResolveOptionalParameters(std::u16string_view url,
                                                      const ParameterList& parameters) {
  if (parameters.Count() == 0) return std::u16string(url);
  std::u16string combo;
  if (parameters.Count() == 1 && parameters.Line(0).empty()) {
    combo = u"\"\"";
  } else {
    for (std::size_t i = 0; i < parameters.Count(); ++i) {
      if (i > 0) combo.push_back(u'&');
      AppendEntry(combo, parameters.Line(i));
    }
  }
  std::u16string result(url);
  result.push_back(url.find(u'?') != std::u16string_view::npos ? u'&' : u'?');
  result += PercentEncode(combo);
  return result;
}

}  // namespace tessora
