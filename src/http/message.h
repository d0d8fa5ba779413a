// The request and response of an HTTP exchange and the proxy settings of a client.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "http/headers.h"

namespace tessora {

enum class HttpVersion { kHttp10, kHttp11 };

inline constexpr char16_t kDefaultAccept[] =
    u"text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

class HttpRequest {
 public:
  // "GET", "POST", "PUT", "DELETE", or "CONNECT" for a tunnel request.
  std::u16string method;
  // The absolute URL; after preparation the request target (path, document and query).
  std::u16string url;
  // The body bytes, or none.
  std::optional<std::string> source;

  // The values of the header lines the client composes; an empty one sends no line.
  std::u16string contentType;
  std::int64_t contentLength = -1;  // byte size of the source; -1 without one
  std::u16string pragma;
  std::u16string proxyConnection;
  std::u16string host;
  std::u16string accept = kDefaultAccept;
  std::u16string userAgent;

  // Basic credentials, sent as "Authorization" only while the flag is set.
  bool basicAuthentication = false;
  std::u16string username;
  std::u16string password;

  // Header lines of the caller's own, sent in the order they were added.
  HeaderList customHeaders;
  // Lines a host adds (the request.headers setting), sent after every other header line, as they
  // are; the request layer checked them. The CONNECT request of a tunnel has none.
  std::vector<std::u16string> extraLines;
  // The header lines composed for sending.
  HeaderList rawHeaders;
};

class HttpResponse {
 public:
  // The status line as received, without its line end.
  std::u16string responseText;
  // The number in the status line, or -1 when there is none.
  int ResponseCode() const { return ParseResponseCode(responseText); }

  HeaderList rawHeaders;
  std::u16string contentType;  // media type with any parameters other than charset
  std::u16string charSet;
  std::int64_t contentLength = -1;  // -1: the response has no length
  std::u16string transferEncoding;
  std::u16string contentEncoding;
  std::u16string connection;
  std::u16string proxyConnection;
  bool keepAlive = false;
  // The body bytes read.
  std::string content;
  // Why the body may not be whole ("the answer ended after 27 of 100 bytes"); empty when it
  // arrived complete. The body read so far is the answer all the same.
  std::u16string incomplete;
  // A redirect whose body did not come within the wait for it: the body was not read, and may
  // still come.
  bool bodyUnread = false;

  // Forgets everything but the status line: ready for the next head.
  void ClearHead();
  // Takes the values of the received header lines.
  void ApplyHeaders();

  // The first blank-separated word dropped, the rest trimmed, its first word cut at any "." and
  // read as a decimal number; -1 when that fails.
  static int ParseResponseCode(std::u16string_view statusLine);
};

class ProxySettings {
 public:
  std::u16string proxyServer;  // empty: no proxy
  int proxyPort = 0;           // as configured; Port() is the port number
  bool basicAuthentication = false;
  std::u16string proxyUsername;
  std::u16string proxyPassword;
  // The "Proxy-Authorization" value, built the first time a request of the client is composed
  // (ProxyAuthorization, compose.h) and reused for every later one.
  std::optional<std::u16string> credentials;
  // Whether the request inside the tunnel carries "Proxy-Authorization" too (the CONNECT request
  // always does when there are credentials).
  bool credentialsInTunnel = true;

  // The port number: the low 16 bits of the configured port (65536 is port 0, which no connect
  // accepts).
  int Port() const { return proxyPort & 0xFFFF; }
};

// The media type of a content type: the text before any ";", trimmed.
std::u16string_view MediaTypeOf(std::u16string_view contentType);
// The value of a parameter of a content type ("boundary", "charset"), quotes removed; empty when
// absent.
std::u16string ContentTypeParameter(std::u16string_view contentType, std::u16string_view name);

// Splits a "Content-Type" value into the content type without its charset parameter and the
// charset; a text/* media type without one gets its default.
void SplitContentType(std::u16string_view value, std::u16string& contentType,
                      std::u16string& charSet);

}  // namespace tessora
