// The request and response of an HTTP exchange and the proxy settings of a client.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "http/headers.h"

namespace tessora {

enum class THttpVersion { kHttp10, kHttp11 };

inline constexpr char16_t kDefaultAccept[] =
    u"text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

class THttpRequest {
 public:
  // "GET", "POST", "PUT", "DELETE", or "CONNECT" for a tunnel request.
  std::u16string Method;
  // The absolute URL; after preparation the request target (path, document and query).
  std::u16string URL;
  // The body bytes, or none.
  std::optional<std::string> Source;

  // Entity values.
  std::u16string Connection;
  std::u16string ContentVersion;
  std::u16string ContentDisposition;
  std::u16string ContentEncoding;
  std::u16string ContentLanguage;
  std::u16string ContentType;       // media type with any parameters other than charset
  std::u16string CharSet;           // charset parameter of the content type
  std::int64_t ContentLength = -1;  // byte size of the source; -1 without one
  std::u16string CacheControl;
  std::u16string Date;
  std::u16string ETag;
  std::u16string Expires;
  std::u16string Pragma;
  std::u16string TransferEncoding;

  // Request values.
  std::u16string ProxyConnection;
  std::u16string Host;
  std::u16string Accept = kDefaultAccept;
  std::u16string AcceptCharset;
  std::u16string AcceptEncoding;
  std::u16string AcceptLanguage;
  std::u16string From;
  std::u16string Referer;
  std::u16string UserAgent;
  std::u16string Range;
  std::u16string IfModifiedSince;
  std::u16string MethodOverride;

  // Basic credentials, sent as "Authorization" only while the flag is set.
  bool BasicAuthentication = false;
  std::u16string Username;
  std::u16string Password;

  // Header lines of the caller's own, sent in the order they were added.
  THeaderList CustomHeaders;
  // The header lines composed for sending.
  THeaderList RawHeaders;
};

class THttpResponse {
 public:
  // The status line as received, without its line end.
  std::u16string ResponseText;
  // The number in the status line, or -1 when there is none.
  int ResponseCode() const { return ParseResponseCode(ResponseText); }

  THeaderList RawHeaders;
  std::u16string ContentType;  // media type with any parameters other than charset
  std::u16string CharSet;
  std::int64_t ContentLength = -1;  // -1: the response has no length
  std::u16string TransferEncoding;
  std::u16string ContentEncoding;
  std::u16string Connection;
  std::u16string ProxyConnection;
  std::u16string Location;
  bool KeepAlive = false;
  // The body bytes read.
  std::string Content;

  // Forgets everything but the status line: ready for the next head.
  void ClearHead();
  // Takes the values of the received header lines.
  void ApplyHeaders();

  // The first blank-separated word dropped, the rest trimmed, its first word cut at any "." and
  // read as a decimal number; -1 when that fails.
  static int ParseResponseCode(std::u16string_view statusLine);
};

class TProxySettings {
 public:
  std::u16string ProxyServer;  // empty: no proxy
  int ProxyPort = 0;           // only the low 16 bits are the port number
  bool BasicAuthentication = false;
  std::u16string ProxyUsername;
  std::u16string ProxyPassword;

  // "Basic " and the Base64 form of the credentials, built the first time a request of the client
  // is composed and reused for every later one.
  const std::u16string& Credentials();

 private:
  std::optional<std::u16string> credentials_;
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
