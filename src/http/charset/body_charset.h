// Charset declarations inside HTML and XML bodies.
#pragma once

#include <string>
#include <string_view>

#include "http/message.h"

namespace tessora {

// For HTML media types a charset declared by a meta element replaces CharSet. For XML media types
// CharSet becomes the encoding named by the byte-order mark or the XML declaration, or "UTF-8".
void ApplyBodyCharset(HttpResponse& response);

// The charset a meta element near the start of an HTML body declares; empty when none does.
std::u16string HtmlMetaCharSet(std::string_view body);
// The encoding an XML body names by its byte-order mark or declaration; "UTF-8" otherwise.
std::u16string XmlCharSet(std::string_view body);

}  // namespace tessora
