#include "platform/clock.h"

#include <time.h>

namespace tessora::platform {

namespace {

DateTimeParts FromTm(const struct tm& t, int millisecond) {
  DateTimeParts p;
  p.Year = t.tm_year + 1900;
  p.Month = t.tm_mon + 1;
  p.Day = t.tm_mday;
  p.Hour = t.tm_hour;
  p.Minute = t.tm_min;
  p.Second = t.tm_sec > 59 ? 59 : t.tm_sec;  // a leap second reads as :59
  p.Millisecond = millisecond;
  return p;
}

}  // namespace

DateTimeParts SystemLocalNow() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  tzset();  // follow a TZ changed since the last call
  struct tm local {};
  localtime_r(&now.tv_sec, &local);
  return FromTm(local, static_cast<int>(now.tv_nsec / 1000000));
}

std::optional<DateTimeParts> UtcToLocal(const DateTimeParts& utc) {
  struct tm t {};
  t.tm_year = utc.Year - 1900;
  t.tm_mon = utc.Month - 1;
  t.tm_mday = utc.Day;
  t.tm_hour = utc.Hour;
  t.tm_min = utc.Minute;
  t.tm_sec = utc.Second;
  const time_t seconds = timegm(&t);
  const bool lastSecondOf1969 = utc.Year == 1969 && utc.Month == 12 && utc.Day == 31 &&
                                utc.Hour == 23 && utc.Minute == 59 && utc.Second == 59;
  if (seconds == static_cast<time_t>(-1) && !lastSecondOf1969) return std::nullopt;
  tzset();
  struct tm local {};
  if (localtime_r(&seconds, &local) == nullptr) return std::nullopt;
  return FromTm(local, utc.Millisecond);
}

}  // namespace tessora::platform
