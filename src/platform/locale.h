// Locale services: time-stamp formats, case-insensitive comparison and upper-casing of text.
#pragma once

#include <string>
#include <string_view>

#include "base/datetime.h"

namespace tessora::platform {

// Reads the locale's short-date and long-time formats; called once when the library loads.
void InitLocaleFormats();
// Formats with the formats read at load (Windows: GetDateFormatW / GetTimeFormatW pictures,
// POSIX: strftime patterns of the LC_TIME locale).
std::u16string FormatShortDate(const DateTimeParts& parts);
std::u16string FormatLongTime(const DateTimeParts& parts);
// Replaces the formats, in the platform's own pattern syntax; for tests.
void SetLocaleFormatsForTesting(std::u16string_view shortDate, std::u16string_view longTime);

// Whether two texts are equal when letter case is ignored (Windows CompareStringW with
// NORM_IGNORECASE; POSIX simple one-to-one case mapping per UTF-16 code unit).
bool SameTextIgnoreCase(std::u16string_view left, std::u16string_view right);
// Upper-cases every code unit on its own; the result has the length of the argument.
std::u16string UpperCaseText(std::u16string_view text);

}  // namespace tessora::platform
