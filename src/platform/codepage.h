// Code-page conversions: the process ANSI code page at the exported interface, and the code pages
// that response charsets name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessora::platform {

// Reads the process ANSI code page; called once when the library loads.
void InitAnsiCodePage();
// The Windows code-page number of the ANSI code page read at load (65001 for UTF-8).
unsigned AnsiCodePage();

// Host bytes in the ANSI code page to text. Invalid sequences become the system's replacement
// character; never fails.
std::u16string AnsiToText(std::string_view bytes);
// Text to the ANSI code page. Characters the code page lacks become a best-fit character or the
// code page's default character ("?"); never fails.
std::string TextToAnsi(std::u16string_view text);

// Bytes in the given Windows code page to text, or nothing when the platform cannot convert that
// code page.
std::optional<std::u16string> CodePageToText(unsigned codePage, std::string_view bytes);

}  // namespace tessora::platform
