#include "platform/clock.h"

#include <windows.h>

namespace tessora::platform {

namespace {

DateTimeParts FromSystemTime(const SYSTEMTIME& st) {
  DateTimeParts p;
  p.year = st.wYear;
  p.month = st.wMonth;
  p.day = st.wDay;
  p.hour = st.wHour;
  p.minute = st.wMinute;
  p.second = st.wSecond;
  p.millisecond = st.wMilliseconds;
  return p;
}

}  // namespace

DateTimeParts SystemLocalNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return FromSystemTime(st);
}

std::optional<DateTimeParts> UtcToLocal(const DateTimeParts& utc) {
  SYSTEMTIME in{};
  in.wYear = static_cast<WORD>(utc.year);
  in.wMonth = static_cast<WORD>(utc.month);
  in.wDay = static_cast<WORD>(utc.day);
  in.wHour = static_cast<WORD>(utc.hour);
  in.wMinute = static_cast<WORD>(utc.minute);
  in.wSecond = static_cast<WORD>(utc.second);
  in.wMilliseconds = static_cast<WORD>(utc.millisecond);
  SYSTEMTIME out;
  // Years before 1601 are outside the system's calendar; the caller keeps such values as given.
  if (utc.year < 1601 || !SystemTimeToTzSpecificLocalTime(nullptr, &in, &out)) return std::nullopt;
  return FromSystemTime(out);
}

}  // namespace tessora::platform
