#include "platform/clock.h"

#include <time.h>

namespace tessora::platform {

namespace {

DateTimeParts FromTm(const struct tm& tm, int millisecond) {
  DateTimeParts p;
  p.year = tm.tm_year + 1900;
  p.month = tm.tm_mon + 1;
  p.day = tm.tm_mday;
  p.hour = tm.tm_hour;
  p.minute = tm.tm_min;
  p.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second reads as :59
  p.millisecond = millisecond;
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
  t.tm_year = utc.year - 1900;
  t.tm_mon = utc.month - 1;
  t.tm_mday = utc.day;
  t.tm_hour = utc.hour;
  t.tm_min = utc.minute;
  t.tm_sec = utc.second;
  const time_t seconds = timegm(&t);
  const bool lastSecondOf1969 = utc.year == 1969 && utc.month == 12 && utc.day == 31 &&
                                utc.hour == 23 && utc.minute == 59 && utc.second == 59;
  if (seconds == static_cast<time_t>(-1) && !lastSecondOf1969) return std::nullopt;
  tzset();
  struct tm local {};
  if (localtime_r(&seconds, &local) == nullptr) return std::nullopt;
  return FromTm(local, utc.millisecond);
}

}  // namespace tessora::platform
