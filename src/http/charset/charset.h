// Response charsets: the registered character-set names with their Windows code pages, and the
// decoding of a body into text.
#pragma once

#include <string>
#include <string_view>

namespace tessora {

// The Windows code page of a registered character-set name or alias, compared without regard to
// case; 0 for a name that is not registered or has no code page.
unsigned CodePageOfCharSet(std::u16string_view name);

// The body bytes as text. UTF-8, UTF-7, UTF-16 (LE and BE) and US-ASCII are decoded here, other
// code pages by the platform; an empty, unknown or unconvertible charset maps each byte to the
// character of the same number. A byte-order mark stays in the text.
std::u16string BodyToText(std::string_view bytes, std::u16string_view charSet);

}  // namespace tessora
