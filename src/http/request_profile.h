// What every request of the library carries, whoever builds it (the request layer for a call,
// `tessora doctor` for its checks): the user agent, the media type of content and accept, the
// "api-sdk" value, and the time the TCP connect is given.
#pragma once

namespace tessora {

// The value of the "api-sdk" header: fixed, whatever this library's own version (the server may
// tell clients apart by it).
inline constexpr char16_t kApiSdk[] = u"delphi-3.1.0";
// The user agent; its final blank never reaches the wire (trailing blanks of header values are
// dropped there).
inline constexpr char16_t kUserAgent[] = u"Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:47.0) ";
// Content type and accept of every request.
inline constexpr char16_t kJsonMediaType[] = u"application/json";
// The TCP connect of every call, in milliseconds.
inline constexpr int kConnectTimeoutMs = 20000;

}  // namespace tessora
