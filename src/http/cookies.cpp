#include "http/cookies.h"

#include <algorithm>

#include "base/text.h"
#include "platform/clock.h"

namespace tessora {

namespace {

bool IsIpAddress(std::u16string_view host) {
  if (host.find(u':') != std::u16string_view::npos) return true;  // IPv6
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char16_t unit) {
    return (unit >= u'0' && unit <= u'9') || unit == u'.';
  });
}

// Whether `host` lies in `domain`: the same name, or a name ending in "." and the domain.
bool DomainMatch(std::u16string_view host, std::u16string_view domain) {
  if (host == domain) return true;
  return host.size() > domain.size() && host.substr(host.size() - domain.size()) == domain &&
         host[host.size() - domain.size() - 1] == u'.' && !IsIpAddress(host);
}

bool PathMatch(std::u16string_view requestPath, std::u16string_view cookiePath) {
  if (requestPath == cookiePath) return true;
  if (requestPath.substr(0, cookiePath.size()) != cookiePath) return false;
  return cookiePath.back() == u'/' || requestPath[cookiePath.size()] == u'/';
}

// The directory of the request path: up to, not including, its last "/"; "/" at the top.
std::u16string DefaultPath(const HttpUrl& url) {
  const std::u16string& path = url.path;
  const std::size_t last = path.rfind(u'/');
  if (last == std::u16string::npos || last == 0) return u"/";
  return path.substr(0, last);
}

bool IsDelimiter(char16_t unit) {
  return unit == 0x09 || (unit >= 0x20 && unit <= 0x2F) || (unit >= 0x3B && unit <= 0x40) ||
         (unit >= 0x5B && unit <= 0x60) || (unit >= 0x7B && unit <= 0x7E);
}

// Leading digits of a token: their count and value; the value is meaningless beyond 9 digits.
int LeadingDigits(std::u16string_view token, int& value) {
  int count = 0;
  value = 0;
  while (count < static_cast<int>(token.size()) && token[count] >= u'0' && token[count] <= u'9') {
    if (count < 9) value = value * 10 + (token[count] - u'0');
    ++count;
  }
  return count;
}

}  // namespace

bool ParseCookieDate(std::u16string_view text, DateTimeParts& utc) {
  static constexpr std::u16string_view kMonths[] = {u"jan", u"feb", u"mar", u"apr", u"may", u"jun",
                                                    u"jul", u"aug", u"sep", u"oct", u"nov", u"dec"};
  bool haveTime = false, haveDay = false, haveMonth = false, haveYear = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && IsDelimiter(text[pos]))
      ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && !IsDelimiter(text[pos]))
      ++pos;
    const std::u16string_view token = text.substr(start, pos - start);
    if (token.empty()) continue;
    int value = 0;
    const int digits = LeadingDigits(token, value);
    if (!haveTime && digits >= 1 && digits <= 2 &&
        token.size() > static_cast<std::size_t>(digits) && token[digits] == u':') {
      // hh:mm:ss
      int h = value, m = 0, s = 0;
      std::u16string_view rest = token.substr(digits + 1);
      const int md = LeadingDigits(rest, m);
      if (md >= 1 && md <= 2 && rest.size() > static_cast<std::size_t>(md) && rest[md] == u':') {
        rest = rest.substr(md + 1);
        const int sd = LeadingDigits(rest, s);
        if (sd >= 1 && sd <= 2) {
          haveTime = true;
          utc.hour = h, utc.minute = m, utc.second = s;
          continue;
        }
      }
    }
    if (!haveDay && digits >= 1 && digits <= 2) {
      haveDay = true;
      utc.day = value;
      continue;
    }
    if (!haveMonth && token.size() >= 3) {
      const std::u16string month = AsciiLowerCase(token.substr(0, 3));
      const auto* hit = std::find(std::begin(kMonths), std::end(kMonths), month);
      if (hit != std::end(kMonths)) {
        haveMonth = true;
        utc.month = static_cast<int>(hit - std::begin(kMonths)) + 1;
        continue;
      }
    }
    if (!haveYear && digits >= 2 && digits <= 4) {
      haveYear = true;
      utc.year = value;
      if (value >= 70 && value <= 99) utc.year += 1900;
      if (value >= 0 && value <= 69 && digits <= 2) utc.year += 2000;
      continue;
    }
  }
  utc.millisecond = 0;
  if (!haveTime || !haveDay || !haveMonth || !haveYear) return false;
  if (utc.year < 1601 || utc.hour > 23 || utc.minute > 59 || utc.second > 59) return false;
  return utc.day >= 1 && utc.day <= DaysInMonth(utc.year, utc.month);
}

void CookieStore::AddFromHeaders(const HeaderList& headers, const HttpUrl& url) {
  for (const std::u16string& line : headers.Lines()) {
    if (!HeaderList::IsNamed(line, u"Set-Cookie")) continue;
    const std::size_t colon = line.find(u':');
    Add(TrimText(std::u16string_view(line).substr(colon + 1)), url);
  }
}

void CookieStore::Add(std::u16string_view setCookie, const HttpUrl& url) {
  // A control character (tab aside) has no place in a cookie. A lone CR would even survive the
  // reading of the head (lines end at LF) and, sent back in the "Cookie" line, end that line:
  // whoever set the cookie (the proxy, answering the tunnel request) would add header lines of
  // its choice to the API request. Such a cookie is ignored as a whole.
  if (std::any_of(setCookie.begin(), setCookie.end(),
                  [](char16_t unit) { return (unit < 0x20 && unit != 0x09) || unit == 0x7F; })) {
    return;
  }
  const std::size_t semicolon = setCookie.find(u';');
  const std::u16string_view pair = setCookie.substr(0, semicolon);
  const std::size_t eq = pair.find(u'=');
  if (eq == std::u16string_view::npos) return;
  Cookie cookie;
  cookie.name = TrimText(pair.substr(0, eq));
  cookie.value = TrimText(pair.substr(eq + 1));
  if (cookie.name.empty() || cookie.name.size() + cookie.value.size() > kMaxCookieSize) return;

  const DateTime now = platform::NowLocal();
  bool haveMaxAge = false;
  std::u16string domain;
  std::u16string_view attributes = semicolon == std::u16string_view::npos
                                       ? std::u16string_view()
                                       : setCookie.substr(semicolon + 1);
  while (!attributes.empty()) {
    const std::size_t next = attributes.find(u';');
    const std::u16string_view attribute = attributes.substr(0, next);
    attributes =
        next == std::u16string_view::npos ? std::u16string_view() : attributes.substr(next + 1);
    const std::size_t aeq = attribute.find(u'=');
    const std::u16string_view name = TrimText(attribute.substr(0, aeq));
    const std::u16string_view value = aeq == std::u16string_view::npos
                                          ? std::u16string_view()
                                          : TrimText(attribute.substr(aeq + 1));
    if (SameTextAscii(name, u"Max-Age")) {
      const bool negative = !value.empty() && value[0] == u'-';
      int seconds = 0;
      const std::u16string_view digitsText = negative ? value.substr(1) : value;
      const int digits = LeadingDigits(digitsText, seconds);
      if (digits == 0 || digits != static_cast<int>(digitsText.size())) continue;
      haveMaxAge = true;
      cookie.persistent = true;
      cookie.expires =
          (negative || seconds == 0) ? 0 : now + (digits > 9 ? 1e9 : seconds) / 86400.0;
    } else if (SameTextAscii(name, u"Expires") && !haveMaxAge) {
      DateTimeParts utc;
      if (!ParseCookieDate(value, utc)) continue;
      const std::optional<DateTimeParts> local = platform::UtcToLocal(utc);
      const std::optional<DateTime> moment = local ? EncodeDateTime(*local) : std::nullopt;
      if (!moment) continue;
      cookie.persistent = true;
      cookie.expires = *moment;
    } else if (SameTextAscii(name, u"Domain")) {
      std::u16string_view d = value;
      if (!d.empty() && d[0] == u'.') d.remove_prefix(1);
      domain = AsciiLowerCase(d);
    } else if (SameTextAscii(name, u"Path")) {
      cookie.path = (!value.empty() && value[0] == u'/') ? std::u16string(value) : std::u16string();
    } else if (SameTextAscii(name, u"Secure")) {
      cookie.secure = true;
    }
  }

  const std::u16string host = AsciiLowerCase(url.host);
  if (domain.empty()) {
    cookie.domain = host;
  } else {
    // A cookie for another site is refused.
    if (!DomainMatch(host, domain)) return;
    cookie.domain = domain;
    cookie.hostOnly = false;
  }
  if (cookie.path.empty()) cookie.path = DefaultPath(url);

  const auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& unit) {
    return unit.name == cookie.name && unit.domain == cookie.domain && unit.path == cookie.path;
  });
  if (cookie.persistent && cookie.expires <= now) {
    // An expiry in the past deletes the cookie.
    if (same != cookies_.end()) cookies_.erase(same);
    return;
  }
  if (same != cookies_.end()) {
    *same = std::move(cookie);
  } else if (cookies_.size() < kMaxCookies) {
    cookies_.push_back(std::move(cookie));
  }
}

std::u16string CookieStore::CookieHeader(const HttpUrl& url) const {
  const std::u16string host = AsciiLowerCase(url.host);
  const std::u16string path = url.path + url.document;
  const bool secure = !url.IsHttp();
  const DateTime now = platform::NowLocal();
  std::vector<const Cookie*> matching;
  for (const Cookie& cookie : cookies_) {
    if (cookie.hostOnly ? host != cookie.domain : !DomainMatch(host, cookie.domain)) continue;
    if (!PathMatch(path, cookie.path)) continue;
    if (cookie.secure && !secure) continue;
    if (cookie.persistent && cookie.expires <= now) continue;
    matching.push_back(&cookie);
  }
  std::stable_sort(matching.begin(), matching.end(), [](const Cookie* left, const Cookie* right) {
    return left->path.size() > right->path.size();
  });
  std::u16string header;
  for (const Cookie* cookie : matching) {
    if (!header.empty()) header += u"; ";
    header += cookie->name + u"=" + cookie->value;
  }
  return header;
}

}  // namespace tessora
