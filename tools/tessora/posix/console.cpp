// POSIX: the ANSI code page is the codeset of the environment's locale, as the library reads it;
// the C locale counts as UTF-8.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "console.h"

namespace tessora::cli {

namespace {

// The locale's codeset, or nothing when it is UTF-8.
std::optional<std::string> NonUtf8Codeset() {
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return std::nullopt;
  const char* name = nl_langinfo_l(CODESET, locale);
  std::optional<std::string> codeset;
  if (name != nullptr && *name != '\0' && std::strcmp(name, "UTF-8") != 0 &&
      std::strcmp(name, "ANSI_X3.4-1968") != 0) {
    codeset.emplace(name);
  }
  freelocale(locale);
  return codeset;
}

}  // namespace

void PrepareConsole() {}

void WriteText(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

std::string Utf8ToAnsi(std::string_view utf8) {
  const std::optional<std::string> codeset = NonUtf8Codeset();
  if (!codeset) return std::string(utf8);
  const std::string target = *codeset + "//TRANSLIT";
  iconv_t cd = iconv_open(target.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(utf8);
  std::string out;
  char buffer[4096];
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  while (inLeft > 0) {
    char* to = buffer;
    std::size_t toLeft = sizeof buffer;
    const std::size_t done = iconv(cd, &in, &inLeft, &to, &toLeft);
    out.append(buffer, static_cast<std::size_t>(to - buffer));
    if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out += '?';  // a character the code page lacks, or a broken sequence: skip one byte
      ++in;
      --inLeft;
    }
  }
  iconv_close(cd);
  return out;
}

bool IsAnsiLeadByte(unsigned char) {
  // Multi-byte locales on POSIX are UTF-8, whose bytes never look like ASCII.
  return false;
}

}  // namespace tessora::cli
