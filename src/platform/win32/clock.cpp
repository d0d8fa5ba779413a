#include "platform/clock.h"

#include <windows.h>

namespace tessora::platform {

namespace {

DateTimeParts FromSystemTime(const SYSTEMTIME& st) {
  DateTimeParts p;
  p.Year = st.wYear;
  p.Month = st.wMonth;
  p.Day = st.wDay;
  p.Hour = st.wHour;
  p.Minute = st.wMinute;
  p.Second = st.wSecond;
  p.Millisecond = st.wMilliseconds;
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
  in.wYear = static_cast<WORD>(utc.Year);
  in.wMonth = static_cast<WORD>(utc.Month);
  in.wDay = static_cast<WORD>(utc.Day);
  in.wHour = static_cast<WORD>(utc.Hour);
  in.wMinute = static_cast<WORD>(utc.Minute);
  in.wSecond = static_cast<WORD>(utc.Second);
  in.wMilliseconds = static_cast<WORD>(utc.Millisecond);
  SYSTEMTIME out;
  // Years before 1601 are outside the system's calendar; the caller keeps such values as given.
  if (utc.Year < 1601 || !SystemTimeToTzSpecificLocalTime(nullptr, &in, &out)) return std::nullopt;
  return FromSystemTime(out);
}

}  // namespace tessora::platform
