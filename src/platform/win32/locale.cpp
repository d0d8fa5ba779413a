// Windows locale services: the formats of the loading thread's locale (GetThreadLocale +
// GetLocaleInfoW), applied with GetDateFormatW / GetTimeFormatW; CompareStringW and CharUpperBuffW.
#include "platform/locale.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <string>

namespace tessora::platform {

namespace {

struct TimeFormats {
  LCID locale = LOCALE_USER_DEFAULT;
  std::wstring shortDate = L"M/d/yyyy";
  std::wstring longTime = L"h:mm:ss tt";
};

TimeFormats& Formats() {
  static TimeFormats formats;
  return formats;
}

std::wstring LocaleInfo(LCID locale, LCTYPE type, const std::wstring& fallback) {
  wchar_t buffer[128];
  const int n = GetLocaleInfoW(locale, type, buffer, 128);
  return n > 1 ? std::wstring(buffer, static_cast<std::size_t>(n - 1)) : fallback;
}

SYSTEMTIME ToSystemTime(const DateTimeParts& parts) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(parts.year);
  st.wMonth = static_cast<WORD>(parts.month);
  st.wDay = static_cast<WORD>(parts.day);
  st.wDayOfWeek =
      static_cast<WORD>(((DaysFromCivil(parts.year, parts.month, parts.day) % 7) + 7 + 6) % 7);
  st.wHour = static_cast<WORD>(parts.hour);
  st.wMinute = static_cast<WORD>(parts.minute);
  st.wSecond = static_cast<WORD>(parts.second);
  st.wMilliseconds = static_cast<WORD>(parts.millisecond);
  return st;
}

std::u16string ToText(const wchar_t* buffer, int count) {
  if (count <= 1) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(buffer),
                        static_cast<std::size_t>(count - 1));
}

}  // namespace

void InitLocaleFormats() {
  TimeFormats& formats = Formats();
  formats.locale = GetThreadLocale();
  formats.shortDate = LocaleInfo(formats.locale, LOCALE_SSHORTDATE, formats.shortDate);
  formats.longTime = LocaleInfo(formats.locale, LOCALE_STIMEFORMAT, formats.longTime);
}

std::u16string FormatShortDate(const DateTimeParts& parts) {
  const TimeFormats& formats = Formats();
  const SYSTEMTIME st = ToSystemTime(parts);
  wchar_t buffer[256];
  const int n = GetDateFormatW(formats.locale, 0, &st, formats.shortDate.c_str(), buffer, 256);
  return ToText(buffer, n);
}

std::u16string FormatLongTime(const DateTimeParts& parts) {
  const TimeFormats& formats = Formats();
  const SYSTEMTIME st = ToSystemTime(parts);
  wchar_t buffer[256];
  const int n = GetTimeFormatW(formats.locale, 0, &st, formats.longTime.c_str(), buffer, 256);
  return ToText(buffer, n);
}

void SetLocaleFormatsForTesting(std::u16string_view shortDate, std::u16string_view longTime) {
  Formats().shortDate.assign(shortDate.begin(), shortDate.end());
  Formats().longTime.assign(longTime.begin(), longTime.end());
}

bool SameTextIgnoreCase(std::u16string_view left, std::u16string_view right) {
  if (left.empty() || right.empty()) return left.size() == right.size();
  // CompareStringW counts in int (a negative count means "up to the zero"): longer texts, which
  // a 64-bit host can pass, are no parameter name the library knows.
  if (left.size() > INT_MAX || right.size() > INT_MAX) return false;
  return CompareStringW(
             LOCALE_USER_DEFAULT, NORM_IGNORECASE, reinterpret_cast<const wchar_t*>(left.data()),
             static_cast<int>(left.size()), reinterpret_cast<const wchar_t*>(right.data()),
             static_cast<int>(right.size())) == CSTR_EQUAL;
}

std::u16string UpperCaseText(std::u16string_view text) {
  std::u16string out(text);
  // CharUpperBuffW counts in DWORD: a longer text (64-bit hosts) goes in slices.
  constexpr std::size_t kSlice = 1u << 30;
  for (std::size_t at = 0; at < out.size(); at += kSlice) {
    const std::size_t n = std::min(kSlice, out.size() - at);
    CharUpperBuffW(reinterpret_cast<wchar_t*>(out.data() + at), static_cast<DWORD>(n));
  }
  return out;
}

}  // namespace tessora::platform
