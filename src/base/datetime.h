// Date-time values: days since 1899-12-30 00:00 local time as a double, the fraction being the
// time of day (for days before 1899-12-30 the fraction still counts forward from midnight).
#pragma once

#include <optional>

namespace tessora {

using DateTime = double;

// The milliseconds in one day: a span in days times this is the span in milliseconds.
inline constexpr double kMillisecondsInADay = 86400000.0;

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Encodes a calendar date (years 1 to 9999) and a time of day; nothing when a field is out of
// range.
std::optional<DateTime> EncodeDateTime(const DateTimeParts& parts);
// The calendar date and time of day of a value, to the millisecond.
DateTimeParts DecodeDateTime(DateTime value);

// Days since 1899-12-30 of a calendar date, and back (proleptic Gregorian calendar).
long long DaysFromCivil(int year, int month, int day);
void CivilFromDays(long long days, int& year, int& month, int& day);

}  // namespace tessora
