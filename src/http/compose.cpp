#include "http/compose.h"

#include "base/error.h"
#include "base/text.h"

namespace tessora {

namespace {

void AddIfSet(HeaderList& lines, std::u16string_view name, std::u16string_view value) {
  if (!value.empty()) lines.Add(name, value);
}

void SetIfSet(HeaderList& lines, std::u16string_view name, std::u16string_view value) {
  if (!value.empty()) lines.Set(name, value);
}

// Trims each line at its end and drops empty ones. A line break left inside a line (a lone CR or
// LF as much as CR LF) is refused: no value may add a header line.
HeaderList Normalize(const HeaderList& composed) {
  HeaderList lines;
  for (const std::u16string& line : composed.Lines()) {
    const std::u16string_view trimmed = TrimRightText(line);
    const std::size_t colon = trimmed.find(u':');
    RefuseLineBreak(trimmed.substr(0, colon), trimmed);
    if (!trimmed.empty()) lines.AddLine(std::u16string(trimmed));
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

void RefuseLineBreak(std::u16string_view name, std::u16string_view value) {
  if (TrimRightText(value).find_first_of(u"\r\n") == std::u16string_view::npos) return;
  Raise(ErrorKind::kRequest, u"The value of the header \"" + std::u16string(name) +
                                 u"\" holds a line break, which would add header lines of its "
                                 u"own. Nothing was sent.");
}

void RefuseLineBreaks(const HttpRequest& request) {
  RefuseLineBreak(u"Content-Type", request.contentType);
  RefuseLineBreak(u"Pragma", request.pragma);
  for (const std::u16string& line : request.customHeaders.Lines()) {
    RefuseLineBreak(std::u16string_view(line).substr(0, line.find(u':')), line);
  }
  RefuseLineBreak(u"Proxy-Connection", request.proxyConnection);
  RefuseLineBreak(u"Host", request.host);
  RefuseLineBreak(u"Accept", request.accept);
  RefuseLineBreak(u"User-Agent", request.userAgent);
}

const std::u16string& ProxyAuthorization(ProxySettings& proxy) {
  if (!proxy.credentials) {
    proxy.credentials = BasicCredentials(proxy.proxyUsername, proxy.proxyPassword);
  }
  return *proxy.credentials;
}

HeaderList ComposeHeaders(const HttpRequest& request, ProxySettings& proxy,
                          std::u16string_view cookie, bool proxyCredentials) {
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

  if (proxy.basicAuthentication && proxyCredentials) {
    lines.Set(u"Proxy-Authorization", ProxyAuthorization(proxy));
  }
  SetIfSet(lines, u"Cookie", cookie);
  for (const std::u16string& line : request.extraLines)
    lines.AddLine(line);
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
