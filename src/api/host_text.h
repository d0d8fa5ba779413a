// Text at the exported interface: host strings in the process ANSI code page or in UTF-8 (the
// thread's text.encoding), and result buffers.
#pragma once

#include <string>
#include <string_view>

namespace tessora {

struct ThreadSettings;

// How a thread's host strings are encoded, in both directions.
enum class HostEncoding {
  kAnsi,  // the process ANSI code page; characters it lacks become "?"
  kUtf8,  // UTF-8: invalid sequences in, lone surrogates out, become U+FFFD
};

// The text.encoding in force on the thread of `settings` (nullptr: a thread without settings,
// which follows the process's value).
HostEncoding HostEncodingOf(const ThreadSettings* settings);

// Host text to library text: the bytes up to the first zero byte, in `encoding`. A null pointer
// is the empty text.
std::u16string HostText(const char* text, HostEncoding encoding = HostEncoding::kAnsi);

// A new result buffer holding the text in `encoding` up to its first zero byte, followed by one
// zero byte. The library never reads, changes, reuses or releases it.
char* NewResultBuffer(std::u16string_view text, HostEncoding encoding = HostEncoding::kAnsi);

}  // namespace tessora
