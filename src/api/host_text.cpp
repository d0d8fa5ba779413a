#include "api/host_text.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "api/settings.h"
#include "base/text.h"
#include "platform/codepage.h"

namespace tessora {

HostEncoding HostEncodingOf(const ThreadSettings* settings) {
  static const SettingKey* const kKey = FindSettingKey(u"text.encoding");
  if (kKey == nullptr) return HostEncoding::kAnsi;
  return OptionInForce(settings, *kKey).value == kUtf8Encoding ? HostEncoding::kUtf8
                                                               : HostEncoding::kAnsi;
}

std::u16string HostText(const char* text, HostEncoding encoding) {
  if (text == nullptr) return {};
  const std::string_view bytes(text, std::strlen(text));
  if (encoding == HostEncoding::kUtf8) return Utf8ToText(bytes);
  return platform::AnsiToText(bytes);
}

char* NewResultBuffer(std::u16string_view text, HostEncoding encoding) {
  const std::string bytes =
      encoding == HostEncoding::kUtf8 ? TextToUtf8(text) : platform::TextToAnsi(text);
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
