// POSIX: the ANSI code page is the codeset of the environment's locale, as the library reads it;
// the C locale counts as UTF-8.
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "console.h"
#include "platform/codepage.h"

extern char** environ;  // NOLINT: the process environment, as POSIX declares it

namespace tessora::cli {

void PrepareConsole() {}

void WriteText(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

std::string Utf8ToAnsi(std::string_view utf8) {
  // The library's own conversion, from the locale read as the library reads it.
  static const bool kInitialised = [] {
    platform::InitAnsiCodePage();
    return true;
  }();
  (void)kInitialised;
  return platform::TextToAnsi(Utf8ToText(utf8));
}

bool IsAnsiLeadByte(unsigned char) {
  // Multi-byte locales on POSIX are UTF-8, whose bytes never look like ASCII.
  return false;
}

std::vector<std::pair<std::string, std::string>> LibraryVariables() {
  std::vector<std::pair<std::string, std::string>> found;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (text.rfind("TESSORANET_", 0) != 0) continue;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    found.emplace_back(text.substr(0, equals), text.substr(equals + 1));
  }
  return found;
}

}  // namespace tessora::cli
