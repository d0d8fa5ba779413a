// The cookie store of an HTTP client: cookies set by the answers it reads, sent back on later
// requests to matching URLs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "http/headers.h"
#include "http/url.h"

namespace tessora {

class CookieStore {
 public:
  // A store holds at most this many cookies; further ones are ignored.
  static constexpr std::size_t kMaxCookies = 50;
  // A cookie whose name and value together are longer than this is ignored.
  static constexpr std::size_t kMaxCookieSize = 4096;

  // Takes the cookies of every "Set-Cookie" line, as set for `url`.
  void AddFromHeaders(const HeaderList& headers, const HttpUrl& url);
  // Takes one "Set-Cookie" value.
  void Add(std::u16string_view setCookie, const HttpUrl& url);

  // The "Cookie" value for a request to `url`: "name=value" pairs joined by "; ", longer paths
  // first; empty when no stored cookie matches.
  std::u16string CookieHeader(const HttpUrl& url) const;
  std::size_t Count() const { return cookies_.size(); }

 private:
  struct Cookie {
    std::u16string name;
    std::u16string value;
    std::u16string domain;  // lower case
    bool hostOnly = true;
    std::u16string path;
    bool secure = false;
    bool persistent = false;
    DateTime expires = 0;  // local time, when Persistent
  };

  std::vector<Cookie> cookies_;
};

// A cookie date ("Wed, 21 Oct 2015 07:28:00 GMT" and the other forms servers send) as UTC parts;
// false when the text holds no valid date.
bool ParseCookieDate(std::u16string_view text, DateTimeParts& utc);

}  // namespace tessora
