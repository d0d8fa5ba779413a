// The parts of a request URL, as the HTTP client reads them.
#pragma once

#include <string>
#include <string_view>

namespace tessora {

struct THttpUrl {
  std::u16string Protocol;  // the text before "://"
  std::u16string Username;
  std::u16string Password;
  std::u16string Host;  // without the square brackets of an IPv6 address
  bool IPv6 = false;
  std::u16string PortText;  // as written; empty when the URL names no port
  std::u16string Path;      // "/" up to and including the last "/"
  std::u16string Document;  // what follows the path
  std::u16string Query;     // after "?", without a fragment

  // "\" before the first "?" or "#" reads as "/"; a fragment is dropped; no decoding takes place.
  static THttpUrl Parse(std::u16string_view url);

  bool IsHttp() const;
  // The port as written, or the scheme's own (80 for http, 443 otherwise); 0 when the written
  // port is not a number from 1 to 65535.
  int Port() const;
  // The host (an IPv6 address in square brackets), then ":" and the port unless its text is the
  // scheme's own ("443", or "80" for http); the comparison is textual, so "0443" is kept.
  std::u16string HostValue() const;
  // The host (an IPv6 address in square brackets), ":" and the port number, always.
  std::u16string Destination() const;
  // Path and document, then "?" and the query when there is one.
  std::u16string Target() const;
};

}  // namespace tessora
