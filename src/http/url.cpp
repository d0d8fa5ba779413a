#include "http/url.h"

#include <algorithm>

#include "base/text.h"

namespace tessora {

HttpUrl HttpUrl::Parse(std::u16string_view input) {
  std::u16string url(input);
  const std::size_t firstSpecial = url.find_first_of(u"?#");
  for (std::size_t i = 0; i < url.size() && i < firstSpecial; ++i) {
    if (url[i] == u'\\') url[i] = u'/';
  }

  HttpUrl parts;
  const std::size_t question = url.find(u'?');
  if (question != std::u16string::npos) {
    parts.query = url.substr(question + 1);
    parts.query.erase(std::min(parts.query.find(u'#'), parts.query.size()));
    url.erase(question);
  } else {
    url.erase(std::min(url.find(u'#'), url.size()));
  }

  std::u16string_view rest = url;
  const std::size_t schemeEnd = rest.find(u"://");
  if (schemeEnd != std::u16string_view::npos) {
    parts.protocol = rest.substr(0, schemeEnd);
    rest.remove_prefix(schemeEnd + 3);
  }

  const std::size_t slash = rest.find(u'/');
  std::u16string_view authority = rest.substr(0, slash);
  const std::u16string_view pathAndDocument =
      slash == std::u16string_view::npos ? std::u16string_view() : rest.substr(slash + 1);

  const std::size_t at = authority.rfind(u'@');
  if (at != std::u16string_view::npos) {
    const std::u16string_view user = authority.substr(0, at);
    const std::size_t colon = user.find(u':');
    parts.username = user.substr(0, colon);
    if (colon != std::u16string_view::npos) parts.password = user.substr(colon + 1);
    authority.remove_prefix(at + 1);
  }

  std::u16string_view afterHost;
  if (!authority.empty() && authority[0] == u'[') {
    const std::size_t close = authority.find(u']');
    parts.ipv6 = true;
    parts.host = authority.substr(1, close == std::u16string_view::npos ? close : close - 1);
    afterHost =
        close == std::u16string_view::npos ? std::u16string_view() : authority.substr(close + 1);
  } else {
    const std::size_t colon = authority.find(u':');
    parts.host = authority.substr(0, colon);
    afterHost =
        colon == std::u16string_view::npos ? std::u16string_view() : authority.substr(colon);
  }
  if (!afterHost.empty() && afterHost[0] == u':') parts.portText = afterHost.substr(1);

  const std::size_t lastSlash = pathAndDocument.rfind(u'/');
  parts.path = u"/";
  if (lastSlash != std::u16string_view::npos) {
    parts.path += pathAndDocument.substr(0, lastSlash + 1);
    parts.document = pathAndDocument.substr(lastSlash + 1);
  } else {
    parts.document = pathAndDocument;
  }
  return parts;
}

bool HttpUrl::IsHttp() const {
  return SameTextAscii(protocol, u"http");
}

int HttpUrl::Port() const {
  if (portText.empty()) return IsHttp() ? 80 : 443;
  int port = 0;
  for (const char16_t c : portText) {
    if (c < u'0' || c > u'9') return 0;
    port = port * 10 + (c - u'0');
    if (port > 65535) return 0;
  }
  return port;
}

std::u16string HttpUrl::HostValue() const {
  std::u16string value = ipv6 ? u"[" + host + u"]" : host;
  const std::u16string_view ownPort = IsHttp() ? u"80" : u"443";
  if (!portText.empty() && portText != ownPort) value += u":" + portText;
  return value;
}

std::u16string HttpUrl::Destination() const {
  std::u16string value = ipv6 ? u"[" + host + u"]" : host;
  return value + u":" + IntToText(Port());
}

namespace {

// Each run of characters outside ASCII as the "%XX" escapes of its UTF-8 bytes (a surrogate pair
// is one character).
std::u16string PercentEncodeNonAscii(std::u16string_view text) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] < 0x80) {
      out += text[i++];
      continue;
    }
    const std::size_t start = i;
    while (i < text.size() && text[i] >= 0x80)
      ++i;
    for (const char byte : TextToUtf8(text.substr(start, i - start))) {
      const auto value = static_cast<unsigned char>(byte);
      out += u'%';
      out += kHex[value >> 4];
      out += kHex[value & 15];
    }
  }
  return out;
}

}  // namespace

std::u16string HttpUrl::Target() const {
  std::u16string target = path + document;
  if (!query.empty()) target += u"?" + query;
  return PercentEncodeNonAscii(target);
}

}  // namespace tessora
