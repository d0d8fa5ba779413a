#include "http/charset/body_charset.h"

#include <algorithm>

#include "base/text.h"
#include "http/charset/charset.h"

namespace tessora {

namespace {

// Only the start of an HTML page is searched for its meta elements: they belong in its head.
constexpr std::size_t kMetaScanBytes = 65536;
// An XML declaration is short and comes first.
constexpr std::size_t kXmlDeclarationBytes = 1024;

bool IsSpace(char unit) {
  return unit == ' ' || unit == '\t' || unit == '\n' || unit == '\r' || unit == '\f';
}

std::size_t FindNoCase(std::string_view text, std::string_view word, std::size_t from) {
  for (std::size_t i = from; i + word.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < word.size() && AsciiLower(text[i + k]) == word[k])
      ++k;
    if (k == word.size()) return i;
  }
  return std::string_view::npos;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = AsciiLower(c);
  return out;
}

// Reads the attributes of a tag from `pos` (just after its name) to its ">", the charset a meta
// element declares by its charset attribute or by http-equiv="Content-Type" with a content value.
std::u16string MetaCharSet(std::string_view body, std::size_t pos) {
  std::string charset, httpEquiv, content;
  const std::size_t n = body.size();
  while (pos < n && body[pos] != '>') {
    if (IsSpace(body[pos]) || body[pos] == '/') {
      ++pos;
      continue;
    }
    const std::size_t nameStart = pos;
    while (pos < n && !IsSpace(body[pos]) && body[pos] != '=' && body[pos] != '>' &&
           body[pos] != '/') {
      ++pos;
    }
    const std::string name = Lower(body.substr(nameStart, pos - nameStart));
    while (pos < n && IsSpace(body[pos]))
      ++pos;
    std::string_view value;
    if (pos < n && body[pos] == '=') {
      ++pos;
      while (pos < n && IsSpace(body[pos]))
        ++pos;
      if (pos < n && (body[pos] == '"' || body[pos] == '\'')) {
        const char quote = body[pos++];
        const std::size_t end = std::min(body.find(quote, pos), n);
        value = body.substr(pos, end - pos);
        pos = end < n ? end + 1 : n;
      } else {
        const std::size_t valueStart = pos;
        while (pos < n && !IsSpace(body[pos]) && body[pos] != '>')
          ++pos;
        value = body.substr(valueStart, pos - valueStart);
      }
    }
    if (name == "charset" && charset.empty()) charset = value;
    if (name == "http-equiv" && httpEquiv.empty()) httpEquiv = Lower(value);
    if (name == "content" && content.empty()) content = value;
  }
  if (!charset.empty()) return std::u16string(TrimText(AsciiBytesToText(charset)));
  if (httpEquiv == "content-type")
    return ContentTypeParameter(AsciiBytesToText(content), u"charset");
  return {};
}

bool IsXmlMediaType(std::u16string_view mediaType) {
  const std::u16string type = AsciiLowerCase(mediaType);
  if (type == u"application/xml" || type == u"application/xml-external-parsed-entity" ||
      type == u"application/xml-dtd") {
    return true;
  }
  const std::size_t slash = type.find(u'/');
  if (slash == std::u16string::npos || type.rfind(u"text/", 0) == 0) return false;
  const std::u16string_view subtype = std::u16string_view(type).substr(slash + 1);
  return subtype.size() >= 4 && subtype.substr(subtype.size() - 4) == u"+xml";
}

bool IsHtmlMediaType(std::u16string_view mediaType) {
  return SameTextAscii(mediaType, u"text/html") || SameTextAscii(mediaType, u"text/html-sandboxed");
}

}  // namespace

std::u16string HtmlMetaCharSet(std::string_view body) {
  body = body.substr(0, std::min(body.size(), kMetaScanBytes));
  std::size_t pos = 0;
  while ((pos = FindNoCase(body, "<meta", pos)) != std::string_view::npos) {
    pos += 5;
    if (pos < body.size() && !IsSpace(body[pos]) && body[pos] != '/') continue;  // <metadata>
    std::u16string charset = MetaCharSet(body, pos);
    if (charset.empty()) continue;
    // A page whose meta element can be read byte by byte is not in UTF-16, whatever it says.
    const unsigned codePage = CodePageOfCharSet(charset);
    if (codePage == 1200 || codePage == 1201) return u"UTF-8";
    return charset;
  }
  return {};
}

std::u16string XmlCharSet(std::string_view body) {
  if (body.substr(0, 3) == "\xEF\xBB\xBF") return u"UTF-8";
  if (body.substr(0, 2) == "\xFF\xFE") return u"UTF-16LE";
  if (body.substr(0, 2) == "\xFE\xFF") return u"UTF-16BE";
  if (body.substr(0, 4) == std::string_view("<\0?\0", 4)) return u"UTF-16LE";
  if (body.substr(0, 4) == std::string_view("\0<\0?", 4)) return u"UTF-16BE";
  if (body.substr(0, 5) == "<?xml") {
    const std::string_view head = body.substr(0, std::min(body.size(), kXmlDeclarationBytes));
    const std::string_view declaration = head.substr(0, head.find("?>"));
    std::size_t pos = declaration.find("encoding");
    if (pos != std::string_view::npos) {
      pos += 8;
      while (pos < declaration.size() && IsSpace(declaration[pos]))
        ++pos;
      if (pos < declaration.size() && declaration[pos] == '=') {
        ++pos;
        while (pos < declaration.size() && IsSpace(declaration[pos]))
          ++pos;
        if (pos < declaration.size() && (declaration[pos] == '"' || declaration[pos] == '\'')) {
          const char quote = declaration[pos++];
          const std::size_t end = declaration.find(quote, pos);
          if (end != std::string_view::npos && end > pos) {
            return AsciiBytesToText(declaration.substr(pos, end - pos));
          }
        }
      }
    }
  }
  return u"UTF-8";
}

void ApplyBodyCharset(HttpResponse& response) {
  const std::u16string_view mediaType = MediaTypeOf(response.contentType);
  if (IsXmlMediaType(mediaType)) {
    response.charSet = XmlCharSet(response.content);
  } else if (IsHtmlMediaType(mediaType)) {
    std::u16string charset = HtmlMetaCharSet(response.content);
    if (!charset.empty()) response.charSet = std::move(charset);
  }
}

}  // namespace tessora
