// POSIX locale services: strftime patterns of the environment's LC_TIME locale, and simple
// one-to-one Unicode case mapping per UTF-16 code unit.
#include "platform/locale.h"

#include <langinfo.h>
#include <locale.h>
#include <time.h>
#include <wctype.h>

#include <string>

#include "base/text.h"

namespace tessora::platform {

namespace {

struct TimeFormats {
  locale_t locale = static_cast<locale_t>(nullptr);
  std::string shortDate = "%m/%d/%y";
  std::string longTime = "%H:%M:%S";

  ~TimeFormats() {
    if (locale != static_cast<locale_t>(nullptr)) freelocale(locale);
  }
};

TimeFormats& Formats() {
  static TimeFormats formats;
  return formats;
}

std::u16string Format(const std::string& pattern, const DateTimeParts& parts) {
  struct tm t {};
  t.tm_year = parts.year - 1900;
  t.tm_mon = parts.month - 1;
  t.tm_mday = parts.day;
  t.tm_hour = parts.hour;
  t.tm_min = parts.minute;
  t.tm_sec = parts.second;
  t.tm_wday =
      static_cast<int>(((DaysFromCivil(parts.year, parts.month, parts.day) % 7) + 7 + 6) % 7);
  t.tm_isdst = -1;
  char buffer[256];
  const TimeFormats& formats = Formats();
  const std::size_t n = formats.locale != static_cast<locale_t>(nullptr)
                            ? strftime_l(buffer, sizeof buffer, pattern.c_str(), &t, formats.locale)
                            : strftime(buffer, sizeof buffer, pattern.c_str(), &t);
  return Utf8ToText(std::string_view(buffer, n));
}

// A locale whose character classes are Unicode's, for case mapping; none when not installed. It is
// freed with the library's static objects when the library unloads.
class CaseMappingLocale {
 public:
  CaseMappingLocale() {
    locale_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (locale_ == static_cast<locale_t>(nullptr)) {
      locale_ = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(nullptr));
    }
  }
  ~CaseMappingLocale() {
    if (locale_ != static_cast<locale_t>(nullptr)) freelocale(locale_);
  }
  CaseMappingLocale(const CaseMappingLocale&) = delete;
  CaseMappingLocale& operator=(const CaseMappingLocale&) = delete;
  locale_t Get() const { return locale_; }

 private:
  locale_t locale_;
};

locale_t CaseLocale() {
  static const CaseMappingLocale kLoc;
  return kLoc.Get();
}

char16_t UpperUnit(char16_t unit, locale_t loc) {
  if (unit < 0x80 || loc == static_cast<locale_t>(nullptr)) {
    return AsciiUpper(unit);
  }
  if (unit >= 0xD800 && unit <= 0xDFFF) return unit;
  const wint_t upper = towupper_l(static_cast<wint_t>(unit), loc);
  return upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
}

}  // namespace

void InitLocaleFormats() {
  TimeFormats& formats = Formats();
  if (formats.locale != static_cast<locale_t>(nullptr)) freelocale(formats.locale);
  formats.locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
  if (formats.locale == static_cast<locale_t>(nullptr)) {
    formats.locale = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
  }
  if (formats.locale != static_cast<locale_t>(nullptr)) {
    formats.shortDate = nl_langinfo_l(D_FMT, formats.locale);
    formats.longTime = nl_langinfo_l(T_FMT, formats.locale);
  }
}

std::u16string FormatShortDate(const DateTimeParts& parts) {
  return Format(Formats().shortDate, parts);
}

std::u16string FormatLongTime(const DateTimeParts& parts) {
  return Format(Formats().longTime, parts);
}

void SetLocaleFormatsForTesting(std::u16string_view shortDate, std::u16string_view longTime) {
  Formats().shortDate = TextToUtf8(shortDate);
  Formats().longTime = TextToUtf8(longTime);
}

bool SameTextIgnoreCase(std::u16string_view left, std::u16string_view right) {
  if (left.size() != right.size()) return false;
  const locale_t loc = CaseLocale();
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (left[i] != right[i] && UpperUnit(left[i], loc) != UpperUnit(right[i], loc)) return false;
  }
  return true;
}

std::u16string UpperCaseText(std::u16string_view text) {
  const locale_t loc = CaseLocale();
  std::u16string out(text);
  for (char16_t& c : out)
    c = UpperUnit(c, loc);
  return out;
}

}  // namespace tessora::platform
