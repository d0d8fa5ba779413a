#include "http/message.h"

#include <vector>

#include "base/text.h"

namespace tessora {

namespace {

bool EndsWith(std::u16string_view text, std::u16string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The parts of a content type separated by ";" outside double quotes.
std::vector<std::u16string_view> SplitParameters(std::u16string_view value) {
  std::vector<std::u16string_view> parts;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == u'"') quoted = !quoted;
    if (value[i] == u';' && !quoted) {
      parts.push_back(value.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(value.substr(start));
  return parts;
}

std::u16string Unquote(std::u16string_view value) {
  value = TrimText(value);
  if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"') {
    value = value.substr(1, value.size() - 2);
  }
  return std::u16string(value);
}

// Splits "name=value" of one parameter; false when the part has no "=".
bool SplitParameter(std::u16string_view part, std::u16string_view& name,
                    std::u16string_view& value) {
  const std::size_t eq = part.find(u'=');
  if (eq == std::u16string_view::npos) return false;
  name = TrimText(part.substr(0, eq));
  value = part.substr(eq + 1);
  return true;
}

std::u16string DefaultCharSet(std::u16string_view mediaType) {
  const std::u16string type = AsciiLowerCase(mediaType);
  if (type.rfind(u"text/", 0) != 0) return {};
  const std::u16string_view subtype = std::u16string_view(type).substr(5);
  if (subtype == u"xml" || subtype == u"xml-external-parsed-entity" || EndsWith(subtype, u"+xml")) {
    return u"us-ascii";
  }
  return u"ISO-8859-1";
}

// A decimal number of digits only; nothing for anything else or a number beyond 63 bits.
std::int64_t ParseLength(std::u16string_view text) {
  text = TrimText(text);
  if (text.empty()) return -1;
  std::int64_t value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return -1;
    if (value > (INT64_MAX - (c - u'0')) / 10) return -1;
    value = value * 10 + (c - u'0');
  }
  return value;
}

}  // namespace

std::u16string_view MediaTypeOf(std::u16string_view contentType) {
  return TrimText(contentType.substr(0, contentType.find(u';')));
}

std::u16string ContentTypeParameter(std::u16string_view contentType, std::u16string_view name) {
  const std::vector<std::u16string_view> parts = SplitParameters(contentType);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    std::u16string_view partName, partValue;
    if (SplitParameter(parts[i], partName, partValue) && SameTextAscii(partName, name)) {
      return Unquote(partValue);
    }
  }
  return {};
}

void SplitContentType(std::u16string_view value, std::u16string& contentType,
                      std::u16string& charSet) {
  const std::vector<std::u16string_view> parts = SplitParameters(value);
  contentType.assign(TrimText(parts[0]));
  charSet.clear();
  bool haveCharSet = false;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    std::u16string_view partName, partValue;
    if (!haveCharSet && SplitParameter(parts[i], partName, partValue) &&
        SameTextAscii(partName, u"charset")) {
      charSet = Unquote(partValue);
      haveCharSet = true;
      continue;
    }
    const std::u16string_view part = TrimText(parts[i]);
    if (part.empty()) continue;
    contentType += u"; ";
    contentType += part;
  }
  if (!haveCharSet) charSet = DefaultCharSet(MediaTypeOf(contentType));
}

void HttpResponse::ClearHead() {
  rawHeaders.Clear();
  contentType.clear();
  charSet.clear();
  contentLength = -1;
  transferEncoding.clear();
  contentEncoding.clear();
  connection.clear();
  proxyConnection.clear();
  keepAlive = false;
  incomplete.clear();
  bodyUnread = false;
}

void HttpResponse::ApplyHeaders() {
  const std::u16string headerValue = rawHeaders.Value(u"Content-Type");
  if (headerValue.empty()) {
    contentType.clear();
    charSet.clear();
  } else {
    SplitContentType(headerValue, contentType, charSet);
  }
  contentLength = ParseLength(rawHeaders.Value(u"Content-Length"));
  transferEncoding = rawHeaders.Value(u"Transfer-Encoding");
  contentEncoding = rawHeaders.Value(u"Content-Encoding");
  connection = rawHeaders.Value(u"Connection");
  proxyConnection = rawHeaders.Value(u"Proxy-Connection");
}

int HttpResponse::ParseResponseCode(std::u16string_view statusLine) {
  const std::size_t blank = statusLine.find(u' ');
  if (blank == std::u16string_view::npos) return -1;
  std::u16string_view rest = TrimText(statusLine.substr(blank + 1));
  rest = rest.substr(0, rest.find(u' '));
  rest = rest.substr(0, rest.find(u'.'));
  if (rest.empty() || rest.size() > 9) return -1;
  int code = 0;
  for (const char16_t c : rest) {
    if (c < u'0' || c > u'9') return -1;
    code = code * 10 + (c - u'0');
  }
  return code;
}

}  // namespace tessora
