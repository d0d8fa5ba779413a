// Text at the exported interface: host strings in the process ANSI code page, and result buffers.
#pragma once

#include <string>
#include <string_view>

namespace tessora {

// Host text to library text: the bytes up to the first zero byte, from the ANSI code page. A null
// pointer is the empty text.
std::u16string HostText(const char* text);

// A new result buffer holding the text in the ANSI code page up to its first zero byte, followed by
// one zero byte. The library never reads, changes, reuses or releases it.
char* NewResultBuffer(std::u16string_view text);

}  // namespace tessora
