#include "api/host_text.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/codepage.h"

namespace tessora {

std::u16string HostText(const char* text) {
  if (text == nullptr) return {};
  return platform::AnsiToText(std::string_view(text, std::strlen(text)));
}

char* NewResultBuffer(std::u16string_view text) {
  const std::string bytes = platform::TextToAnsi(text);
  // A character U+0000 ends what reaches the host.
  const std::size_t length = std::strlen(bytes.c_str());
  // malloc: safe from any thread, and the host never hands the buffer back.
  auto* buffer = static_cast<char*>(std::malloc(length + 1));
  if (buffer == nullptr) throw std::bad_alloc();
  std::memcpy(buffer, bytes.data(), length);
  buffer[length] = '\0';
  return buffer;
}

}  // namespace tessora
