// Pins the log's time-stamp formats to day/month/year and a 24-hour clock (as Brazilian Portuguese
// settings give them), in each platform's own pattern syntax, so records can be compared exactly.
#pragma once

#include "platform/locale.h"

namespace tessora::test {

inline void UseDayMonthYearTimeStamps() {
  platform::InitLocaleFormats();
#if defined(_WIN32)
  platform::SetLocaleFormatsForTesting(u"dd/MM/yyyy", u"HH:mm:ss");
#else
  platform::SetLocaleFormatsForTesting(u"%d/%m/%Y", u"%H:%M:%S");
#endif
}

}  // namespace tessora::test
