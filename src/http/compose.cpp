#include "http/compose.h"

#include "base/text.h"

namespace tessora {

namespace {

void AddIfSet(THeaderList& lines, std::u16string_view name, std::u16string_view value) {
  if (!value.empty()) lines.Add(name, value);
}

void SetIfSet(THeaderList& lines, std::u16string_view name, std::u16string_view value) {
  if (!value.empty()) lines.Set(name, value);
}

// Splits each line at its line breaks (CR LF, and a lone CR or LF alike, so that no line break
// can reach the wire inside a header line), trims the pieces at their end, drops empty ones.
THeaderList Normalize(const THeaderList& composed) {
  THeaderList lines;
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

THeaderList ComposeHeaders(const THttpRequest& request, TProxySettings& proxy,
                           std::u16string_view cookie) {
  THeaderList lines;
  AddIfSet(lines, u"Connection", request.Connection);
  AddIfSet(lines, u"Content-Version", request.ContentVersion);
  AddIfSet(lines, u"Content-Disposition", request.ContentDisposition);
  AddIfSet(lines, u"Content-Encoding", request.ContentEncoding);
  AddIfSet(lines, u"Content-Language", request.ContentLanguage);
  if (!request.ContentType.empty()) {
    std::u16string value = request.ContentType;
    if (!request.CharSet.empty()) value += u"; charset=" + request.CharSet;
    lines.Add(u"Content-Type", value);
  }
  if (request.ContentLength >= 0) lines.Add(u"Content-Length", IntToText(request.ContentLength));
  AddIfSet(lines, u"Cache-control", request.CacheControl);
  AddIfSet(lines, u"Date", request.Date);
  AddIfSet(lines, u"ETag", request.ETag);
  AddIfSet(lines, u"Expires", request.Expires);
  AddIfSet(lines, u"Pragma", request.Pragma);
  AddIfSet(lines, u"Transfer-Encoding", request.TransferEncoding);

  for (const std::u16string& line : request.CustomHeaders.Lines())
    lines.AddLine(line);

  SetIfSet(lines, u"Proxy-Connection", request.ProxyConnection);
  SetIfSet(lines, u"Host", request.Host);
  SetIfSet(lines, u"Accept", request.Accept);
  SetIfSet(lines, u"Accept-Charset", request.AcceptCharset);
  SetIfSet(lines, u"Accept-Encoding", request.AcceptEncoding);
  SetIfSet(lines, u"Accept-Language", request.AcceptLanguage);
  SetIfSet(lines, u"From", request.From);
  SetIfSet(lines, u"Referer", request.Referer);
  SetIfSet(lines, u"User-Agent", request.UserAgent);
  SetIfSet(lines, u"Range", request.Range);
  SetIfSet(lines, u"If-Modified-Since", request.IfModifiedSince);
  if (request.BasicAuthentication) {
    lines.Set(u"Authorization", BasicCredentials(request.Username, request.Password));
  }
  SetIfSet(lines, u"X-HTTP-Method-Override", request.MethodOverride);

  if (proxy.BasicAuthentication) lines.Set(u"Proxy-Authorization", proxy.Credentials());
  SetIfSet(lines, u"Cookie", cookie);
  return Normalize(lines);
}

std::string RequestHead(std::u16string_view method, std::u16string_view target,
                        THttpVersion version, const THeaderList& lines) {
  std::u16string head(method);
  head += u' ';
  // A line break in the target would end the request line early and let the rest pass for
  // header lines.
  for (const char16_t c : target)
    head += (c == u'\r' || c == u'\n') ? u'?' : c;
  head += version == THttpVersion::kHttp10 ? u" HTTP/1.0\r\n" : u" HTTP/1.1\r\n";
  for (const std::u16string& line : lines.Lines()) {
    head += line;
    head += u"\r\n";
  }
  head += u"\r\n";
  return TextToAscii(head);
}

}  // namespace tessora
