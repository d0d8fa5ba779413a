#include "base/datetime.h"

#include <cmath>

namespace tessora {

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Howard Hinnant's days-from-civil, shifted so that 1899-12-30 is day 0.
long long DaysFromCivil(int year, int month, int day) {
  long long y = year - (month <= 2 ? 1 : 0);
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long mp = (month + 9) % 12;
  const long long doy = (153 * mp + 2) / 5 + day - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long unixDays = era * 146097 + doe - 719468;
  return unixDays + 25569;  // 1970-01-01 is day 25569
}

void CivilFromDays(long long days, int& year, int& month, int& day) {
  long long z = days - 25569 + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

std::optional<DateTime> EncodeDateTime(const DateTimeParts& parts) {
  if (parts.year < 1 || parts.year > 9999 || parts.month < 1 || parts.month > 12 || parts.day < 1 ||
      parts.day > DaysInMonth(parts.year, parts.month) || parts.hour < 0 || parts.hour > 23 ||
      parts.minute < 0 || parts.minute > 59 || parts.second < 0 || parts.second > 59 ||
      parts.millisecond < 0 || parts.millisecond > 999) {
    return std::nullopt;
  }
  const double date = static_cast<double>(DaysFromCivil(parts.year, parts.month, parts.day));
  const double time =
      (((parts.hour * 60.0 + parts.minute) * 60.0 + parts.second) * 1000.0 + parts.millisecond) /
      kMillisecondsInADay;
  return date < 0 ? date - time : date + time;
}

DateTimeParts DecodeDateTime(DateTime value) {
  // Work in whole milliseconds, rounded, so that 10:00:00 encoded as a fraction reads back exactly.
  double whole = std::trunc(value);
  long long ms = std::llround(std::fabs(value - whole) * kMillisecondsInADay);
  long long days = static_cast<long long>(whole);
  if (ms >= 86400000LL) {  // a time of day that rounds up to the next midnight
    ms -= 86400000LL;
    days += 1;
  }
  DateTimeParts p;
  CivilFromDays(days, p.year, p.month, p.day);
  p.millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  p.second = static_cast<int>(ms % 60);
  ms /= 60;
  p.minute = static_cast<int>(ms % 60);
  p.hour = static_cast<int>(ms / 60);
  return p;
}

}  // namespace tessora
