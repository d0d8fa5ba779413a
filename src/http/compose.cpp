#include "http/compose.h"

#include "base/text.h"

namespace tessora {

namespace {

void AddIfSet(HeaderList& lines, std::u16string_view name, std::u16string_view value) {
  if (!value.empty()) lines.Add(name, value);
}

void SetIfSet(HeaderList& lines, std::u16string_view name, std::u16string_view value) {
  if (!value.empty()) lines.Set(name, value);
}

// Splits each line at its line breaks (CR LF, and a lone CR or LF alike, so that no line break
// can reach the wire inside a header line), trims the pieces at their end, drops empty ones.
HeaderList Normalize(const HeaderList& composed) {
  HeaderList lines;
  for (const std::u16string& line : composed.Lines()) {
    std::size_t start = 0;
    while (start <= line.size()) {
      std::size_t end = line.find_first_of(u"\r\n", start);
      if (end == std::u16string::npos) end = line.size();
      const std::u16string_view piece =
          TrimRightText(std::u16string_view(line).substr(start, end - start));
      if (!piece.empty()) lines.AddLine(std::u16string(piece));
      if (end < line.size() && line[end] == u'\r' && end + 1 < line.size() &&
          line[end + 1] == u'\n') {
        ++end;
      }
      start = end + 1;
    }
  }
  return lines;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i + 1 == bytes.size()) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    const unsigned v =
        static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::u16string BasicCredentials(std::u16string_view username, std::u16string_view password) {
  std::u16string pair(TrimText(username));
  pair += u':';
  pair += TrimText(password);
  return u"Basic " + AsciiToText(Base64Encode(TextToBytes(pair)));
}

HeaderList ComposeHeaders(const HttpRequest& request, ProxySettings& proxy,
                          std::u16string_view cookie) {
  HeaderList lines;
  AddIfSet(lines, u"Content-Type", request.contentType);
  if (request.contentLength >= 0) lines.Add(u"Content-Length", IntToText(request.contentLength));
  AddIfSet(lines, u"Pragma", request.pragma);

  for (const std::u16string& line : request.customHeaders.Lines())
    lines.AddLine(line);

  SetIfSet(lines, u"Proxy-Connection", request.proxyConnection);
  SetIfSet(lines, u"Host", request.host);
  SetIfSet(lines, u"Accept", request.accept);
  SetIfSet(lines, u"User-Agent", request.userAgent);
  if (request.basicAuthentication) {
    lines.Set(u"Authorization", BasicCredentials(request.username, request.password));
  }

  if (proxy.basicAuthentication) lines.Set(u"Proxy-Authorization", proxy.Credentials());
  SetIfSet(lines, u"Cookie", cookie);
  return Normalize(lines);
}

std::string RequestHead(std::u16string_view method, std::u16string_view target, HttpVersion version,
                        const HeaderList& lines) {
  std::u16string head(method);
  head += u' ';
  // A line break in the target would end the request line early and let the rest pass for
  // header lines.
  for (const char16_t c : target)
    head += (c == u'\r' || c == u'\n') ? u'?' : c;
  head += version == HttpVersion::kHttp10 ? u" HTTP/1.0\r\n" : u" HTTP/1.1\r\n";
  for (const std::u16string& line : lines.Lines()) {
    head += line;
    head += u"\r\n";
  }
  head += u"\r\n";
  return TextToAscii(head);
}

}  // namespace tessora
