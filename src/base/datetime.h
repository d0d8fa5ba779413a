// Date-time values: days since 1899-12-30 00:00 local time as a double, the fraction being the
// time of day (for days before 1899-12-30 the fraction still counts forward from midnight).
#pragma once

#include <optional>

namespace tessora {

using TDateTime = double;

struct DateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Encodes a calendar date (years 1 to 9999) and a time of day; nothing when a field is out of
// range.
std::optional<TDateTime> EncodeDateTime(const DateTimeParts& parts);
// The calendar date and time of day of a value, to the millisecond.
DateTimeParts DecodeDateTime(TDateTime value);

// Days since 1899-12-30 of a calendar date, and back (proleptic Gregorian calendar).
long long DaysFromCivil(int year, int month, int day);
void CivilFromDays(long long days, int& year, int& month, int& day);

}  // namespace tessora
