// POSIX code pages: the ANSI code page is the codeset of the environment's locale, converted with
// iconv. The C locale (plain ASCII) counts as UTF-8.
#include "platform/codepage.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "base/fault_injection.h"
#include "base/text.h"
#include "platform/posix/thread_locale.h"

namespace tessora::platform {

namespace {

// Without a destructor: a log that rotates at the end of the process converts its file names after
// exit() has run the static destructors.
struct AnsiState {
  char codeset[64] = "UTF-8";
  unsigned codePage = 65001;
  // The name of the locale whose codeset this is: its transliterations stand in for the characters
  // the codeset lacks, whatever locale the host has set for itself. Empty: the host's.
  char localeName[256] = "";
};
static_assert(std::is_trivially_destructible_v<AnsiState>);

AnsiState& Ansi() {
  static AnsiState state;
  return state;
}

struct CodesetPage {
  const char* codeset;
  unsigned codePage;
};

// Codesets glibc reports, with the Windows code page that holds the same characters.
constexpr CodesetPage kCodesets[] = {
    {"UTF-8", 65001},      {"ANSI_X3.4-1968", 65001}, {"ISO-8859-1", 28591}, {"ISO-8859-2", 28592},
    {"ISO-8859-5", 28595}, {"ISO-8859-7", 28597},     {"ISO-8859-9", 28599}, {"ISO-8859-15", 28605},
    {"CP1250", 1250},      {"CP1251", 1251},          {"CP1252", 1252},      {"KOI8-R", 20866},
    {"KOI8-U", 21866},     {"EUC-JP", 20932},         {"SHIFT_JIS", 932},    {"GB2312", 936},
    {"GBK", 936},          {"GB18030", 54936},        {"BIG5", 950},         {"BIG5-HKSCS", 950},
    {"EUC-KR", 949},       {"EUC-TW", 51950},         {"TIS-620", 874},      {"ISO-8859-11", 874},
};

// iconv names of Windows code pages that glibc does not know as "CP<number>": the IBM EBCDIC
// pages (37, 20273 and on) under IBM's numbers, and Hebrew in logical order (38598) as the bytes of
// ISO-8859-8.
constexpr CodesetPage kIconvNames[] = {
    {"SHIFT_JIS", 932},     {"GBK", 936},           {"UHC", 949},           {"BIG5", 950},
    {"UTF-16LE", 1200},     {"UTF-16BE", 1201},     {"MACINTOSH", 10000},   {"ASCII", 20127},
    {"KOI8-R", 20866},      {"EUC-JP", 20932},      {"KOI8-U", 21866},      {"ISO-8859-1", 28591},
    {"ISO-8859-2", 28592},  {"ISO-8859-3", 28593},  {"ISO-8859-4", 28594},  {"ISO-8859-5", 28595},
    {"ISO-8859-6", 28596},  {"ISO-8859-7", 28597},  {"ISO-8859-8", 28598},  {"ISO-8859-9", 28599},
    {"ISO-8859-13", 28603}, {"ISO-8859-15", 28605}, {"ISO-2022-JP", 50220}, {"ISO-2022-KR", 50225},
    {"EUC-JP", 51932},      {"EUC-CN", 51936},      {"EUC-KR", 51949},      {"HZ", 52936},
    {"GB18030", 54936},     {"UTF-7", 65000},       {"UTF-8", 65001},       {"IBM037", 37},
    {"IBM273", 20273},      {"IBM277", 20277},      {"IBM278", 20278},      {"IBM280", 20280},
    {"IBM284", 20284},      {"IBM285", 20285},      {"IBM290", 20290},      {"IBM297", 20297},
    {"IBM420", 20420},      {"IBM423", 20423},      {"IBM424", 20424},      {"IBM871", 20871},
    {"IBM880", 20880},      {"IBM905", 20905},      {"ISO-8859-8", 38598},
};

std::string IconvName(unsigned codePage) {
  for (const CodesetPage& entry : kIconvNames) {
    if (entry.codePage == codePage) return entry.codeset;
  }
  return "CP" + std::to_string(codePage);
}

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (Ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return cd_; }

 private:
  iconv_t cd_;
};

void AppendUtf16Le(std::u16string& out, const char* bytes, std::size_t count) {
  for (std::size_t i = 0; i + 1 < count; i += 2) {
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
}

// Decodes with iconv; every byte iconv refuses becomes U+FFFD and decoding goes on after it. With
// `c1Controls`, a refused byte from 0x80 to 0x9F becomes the control character of that number
// instead, as Windows decodes the bytes its 125x code pages leave unassigned.
std::u16string DecodeWith(Converter& conv, std::string_view bytes, bool c1Controls = false) {
  std::u16string out;
  out.reserve(bytes.size());
  char buffer[4096];
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t rc = iconv(conv.Get(), &in, &inLeft, &outPtr, &outLeft);
    AppendUtf16Le(out, buffer, sizeof buffer - outLeft);
    if (rc != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    const auto refused = static_cast<unsigned char>(*in);
    const bool control = c1Controls && errno == EILSEQ && refused >= 0x80 && refused <= 0x9F;
    out.push_back(control ? static_cast<char16_t>(refused) : u'\uFFFD');
    if (errno == EINVAL) break;  // incomplete sequence at the end
    ++in, --inLeft;              // EILSEQ: skip the byte
    iconv(conv.Get(), nullptr, nullptr, nullptr, nullptr);
  }
  // Flush any shift state (stateful encodings such as ISO-2022-JP).
  char* outPtr = buffer;
  std::size_t outLeft = sizeof buffer;
  iconv(conv.Get(), nullptr, nullptr, &outPtr, &outLeft);
  AppendUtf16Le(out, buffer, sizeof buffer - outLeft);
  return out;
}

// Whether `bytes`, in the converter's source code set, decode to exactly one character.
bool IsOneCharacter(Converter& back, std::string_view bytes) {
  if (!back.Ok()) return bytes.size() == 1;
  iconv(back.Get(), nullptr, nullptr, nullptr, nullptr);
  const std::u16string text = DecodeWith(back, bytes);
  return text.size() == 1 || (text.size() == 2 && SurrogatePairAt(text, 0));
}

}  // namespace

void InitAnsiCodePage() {
  AnsiState state;
  if (locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr))) {
    const char* codeset = nl_langinfo_l(CODESET, loc);
    // (A name too long for the state is no codeset glibc has: UTF-8 stays.)
    if (codeset != nullptr && *codeset != '\0' && strlen(codeset) < sizeof state.codeset) {
      snprintf(state.codeset, sizeof state.codeset, "%s", codeset);
      state.codePage = 0;
      for (const CodesetPage& entry : kCodesets) {
        if (strcasecmp(entry.codeset, codeset) == 0) state.codePage = entry.codePage;
      }
      if (state.codePage == 65001) snprintf(state.codeset, sizeof state.codeset, "UTF-8");
#if defined(_NL_LOCALE_NAME)
      const char* name = nl_langinfo_l(_NL_LOCALE_NAME(LC_CTYPE), loc);
      if (name != nullptr && strlen(name) < sizeof state.localeName) {
        snprintf(state.localeName, sizeof state.localeName, "%s", name);
      }
#endif
    }
    freelocale(loc);
  }
  Ansi() = state;
}

unsigned AnsiCodePage() {
  return Ansi().codePage;
}

std::u16string AnsiToText(std::string_view bytes) {
  const AnsiState& ansi = Ansi();
  if (ansi.codePage == 65001) return Utf8ToText(bytes);
  Converter conv("UTF-16LE", ansi.codeset);
  if (!conv.Ok()) return BytesToText(bytes);
  return DecodeWith(conv, bytes, ansi.codePage >= 1250 && ansi.codePage <= 1258);
}

std::string TextToAnsi(std::u16string_view text) {
  const AnsiState& ansi = Ansi();
  if (ansi.codePage == 65001) return TextToUtf8(text);
  const ScopedThreadLocale locale(ansi.localeName);
  Converter conv((std::string(ansi.codeset) + "//TRANSLIT").c_str(), "UTF-16LE");
  if (!conv.Ok()) return TextToBytes(text);
  // Convert one character (a surrogate pair counts as one) at a time, so that a character iconv
  // cannot even transliterate becomes "?" and the rest goes on. A transliteration stands in for a
  // character only when it is one character too, as a best-fit character is: iconv also writes
  // "EUR" for the euro sign or " 1/3 " for one third, which would change the length of what the
  // host receives, so those become "?" as well.
  Converter back("UTF-16LE", ansi.codeset);
  std::string out;
  out.reserve(text.size());
  char buffer[64];
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t units = SurrogatePairAt(text, i) ? 2 : 1;
    char in[4];
    for (std::size_t k = 0; k < units; ++k) {
      in[2 * k] = static_cast<char>(text[i + k] & 0xFF);
      in[2 * k + 1] = static_cast<char>(text[i + k] >> 8);
    }
    char* inPtr = in;
    std::size_t inLeft = units * 2;
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t rc = iconv(conv.Get(), &inPtr, &inLeft, &outPtr, &outLeft);
    const std::size_t written = sizeof buffer - outLeft;
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0) {
      iconv(conv.Get(), nullptr, nullptr, nullptr, nullptr);
      out.push_back('?');
    } else if (rc != 0 && !IsOneCharacter(back, std::string_view(buffer, written))) {
      out.push_back('?');
    } else {
      out.append(buffer, written);
    }
    i += units;
  }
  char* outPtr = buffer;
  std::size_t outLeft = sizeof buffer;
  iconv(conv.Get(), nullptr, nullptr, &outPtr, &outLeft);
  out.append(buffer, sizeof buffer - outLeft);
  return out;
}

std::optional<std::u16string> CodePageToText(unsigned codePage, std::string_view bytes) {
  if (TakeFault(Fault::kCodePage) != 0) return std::nullopt;
  Converter conv("UTF-16LE", IconvName(codePage).c_str());
  if (!conv.Ok()) return std::nullopt;
  return DecodeWith(conv, bytes, codePage >= 1250 && codePage <= 1258);
}

}  // namespace tessora::platform
