// The parts of a request URL, as the HTTP client reads them.
#pragma once

#include <string>
#include <string_view>

namespace tessora {

struct HttpUrl {
  std::u16string protocol;  // the text before "://"
  std::u16string username;
  std::u16string password;
  std::u16string host;  // without the square brackets of an IPv6 address
  bool ipv6 = false;
  std::u16string portText;  // as written; empty when the URL names no port
  std::u16string path;      // "/" up to and including the last "/"
  std::u16string document;  // what follows the path
  std::u16string query;     // after "?", without a fragment

  // "\" before the first "?" or "#" reads as "/"; a fragment is dropped; no decoding takes place.
  static HttpUrl Parse(std::u16string_view url);

  bool IsHttp() const;
  // The port as written, or the scheme's own (80 for http, 443 otherwise); 0 when the written
  // port is not a number from 1 to 65535.
  int Port() const;
  // The host (an IPv6 address in square brackets), then ":" and the port unless its text is the
  // scheme's own ("443", or "80" for http); the comparison is textual, so "0443" is kept.
  std::u16string HostValue() const;
  // The host (an IPv6 address in square brackets), ":" and the port number, always.
  std::u16string Destination() const;
  // Path and document, then "?" and the query when there is one. Characters outside ASCII go out
  // percent-encoded as UTF-8 ("é" as "%C3%A9"): sent as "?" they would end the path early and
  // address another resource. ASCII stays as it is.
  std::u16string Target() const;
};

}  // namespace tessora
