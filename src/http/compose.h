// Composing a request head: the header lines in their order, basic credentials, the bytes sent.
#pragma once

#include <string>
#include <string_view>

#include "http/headers.h"
#include "http/message.h"

namespace tessora {

// Standard Base64 with "=" padding and no line breaks.
std::string Base64Encode(std::string_view bytes);

// "Basic " and the Base64 form of user name ":" password. Both lose leading and trailing blanks
// and control characters first; each character is then one byte, "?" above U+00FF.
std::u16string BasicCredentials(std::u16string_view username, std::u16string_view password);

// Raises (ErrorKind::kRequest) when a header value still holds a CR or LF once the trailing blanks
// and control characters that every line loses are gone: the break would end the line early and
// what follows would go out as header lines of its own.
void RefuseLineBreak(std::u16string_view name, std::u16string_view value);
// RefuseLineBreak for every value of a request that goes into a header line as it is (not the
// credentials, which go out Base64-encoded).
void RefuseLineBreaks(const HttpRequest& request);

// The proxy's "Proxy-Authorization" value: the basic credentials of its user name and password,
// built the first time and kept in `proxy` for every later request of the client.
const std::u16string& ProxyAuthorization(ProxySettings& proxy);

// The header lines of a request: the entity lines, the custom lines, the request lines,
// "Proxy-Authorization" and "Cookie" (the last three groups replacing a line of the same name in
// place). Each line loses trailing blanks and control characters; a line that still holds a line
// break is refused (RefuseLineBreak); empty lines are left out. "Proxy-Authorization" only with
// `proxyCredentials` and when the proxy has credentials.
HeaderList ComposeHeaders(const HttpRequest& request, ProxySettings& proxy,
                          std::u16string_view cookie, bool proxyCredentials = true);

// The request line, the header lines and the closing empty line, each ending in CR LF, as ASCII
// ("?" for every character above U+007F).
std::string RequestHead(std::u16string_view method, std::u16string_view target, HttpVersion version,
                        const HeaderList& lines);

}  // namespace tessora
