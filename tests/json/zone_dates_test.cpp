// Dates marked as UTC (Z) or with an offset are converted to local time by the machine's time-zone
// rules. This program is built once per zone and runs with TZ set by CTest; each row belongs to one
// zone.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/text.h"
#include "json/json.h"
#include "json_test_support.h"

namespace tessora {
namespace {

struct Row {
  const char* zone;      // the TZ value the row is meant for
  std::u16string value;  // the string as written
  std::u16string read;   // what GetString gives
};

// Offsets here are certain: UTC; a POSIX zone fixed at UTC-3; Sao Paulo, UTC-3 without daylight
// saving since 2019; Berlin, UTC+1 and UTC+2 from 01:00 UTC on the last Sunday of March to 01:00
// UTC on the last Sunday of October.
const std::vector<Row> kRows = {
    {"UTC", u"2024-03-05T14:07:09Z", u"2024-03-05T14:07:09.000"},
    {"UTC", u"2024-03-05T14:07:09+02:00", u"2024-03-05T12:07:09.000"},
    {"UTC", u"2024-03-05T14:07:09-02:30", u"2024-03-05T16:37:09.000"},
    {"UTC", u"2024-03-05T00:30:00+01:00", u"2024-03-04T23:30:00.000"},
    {"UTC", u"2024-12-31T23:30:00-01:00", u"2025-01-01T00:30:00.000"},
    {"UTC", u"2024-03-05T14:07:09Z.25", u"2024-03-05T14:07:09.250"},
    {"UTC", u"2024-03-05T14:07:09.25Z", u"2024-03-05T14:07:09.250"},
    {"UTC", u"2024-03-05T14:07:09.123Z", u"2024-03-05T14:07:09.123"},
    // Several marks: the value is converted once (written offsets give UTC).
    {"UTC", u"10:00:00Z-03:00", u"13:00:00.000"},
    {"UTC", u"2024-03-05T14:07:09Z.5Z", u"2024-03-05T14:07:09.500"},
    {"UTC", u"10:00:00Z", u"10:00:00.000"},
    {"UTC", u"01:00:00+02:00", u"23:00:00.000"},
    {"UTC", u"10:00:00.5+00:00", u"10:00:00.500"},
    // An offset that moves the value out of years 1 to 9999 leaves the string as it is.
    {"UTC", u"0001-01-01T00:30:00+01:00", u"0001-01-01T00:30:00+01:00"},
    {"UTC", u"9999-12-31T23:30:00-01:00", u"9999-12-31T23:30:00-01:00"},
    {"UTC", u"0001-01-01T01:30:00+01:00", u"0001-01-01T00:30:00.000"},

    {"<-03>3", u"2024-03-05T14:07:09Z", u"2024-03-05T11:07:09.000"},
    {"<-03>3", u"2024-03-05T14:07:09+02:00", u"2024-03-05T09:07:09.000"},
    {"<-03>3", u"10:00:00Z", u"07:00:00.000"},
    {"<-03>3", u"01:00:00Z.250", u"22:00:00.250"},
    {"<-03>3", u"2024-03-05T14:07:09Z.5Z", u"2024-03-05T11:07:09.500"},
    {"<-03>3", u"10:00:00Z+01:00", u"06:00:00.000"},
    {"<-03>3", u"10:00:00-03:00", u"10:00:00.000"},

    {"America/Sao_Paulo", u"2024-03-05T14:07:09Z", u"2024-03-05T11:07:09.000"},
    {"America/Sao_Paulo", u"2024-07-01T00:00:00Z", u"2024-06-30T21:00:00.000"},
    {"America/Sao_Paulo", u"2024-03-05T14:07:09+02:00", u"2024-03-05T09:07:09.000"},
    {"America/Sao_Paulo", u"2024-03-05T10:00:00-03:00", u"2024-03-05T10:00:00.000"},
    {"America/Sao_Paulo", u"2024-11-10T12:00:00.5Z", u"2024-11-10T09:00:00.500"},
    {"America/Sao_Paulo", u"2024-03-05", u"2024-03-05"},

    {"Europe/Berlin", u"2024-01-15T12:00:00Z", u"2024-01-15T13:00:00.000"},
    {"Europe/Berlin", u"2024-07-15T12:00:00Z", u"2024-07-15T14:00:00.000"},
    {"Europe/Berlin", u"2024-03-31T00:59:59Z", u"2024-03-31T01:59:59.000"},
    {"Europe/Berlin", u"2024-03-31T01:00:00Z", u"2024-03-31T03:00:00.000"},
    {"Europe/Berlin", u"2024-10-27T00:30:00Z", u"2024-10-27T02:30:00.000"},
    {"Europe/Berlin", u"2024-10-27T01:30:00Z", u"2024-10-27T02:30:00.000"},
    {"Europe/Berlin", u"2024-07-15T12:00:00-04:00", u"2024-07-15T18:00:00.000"},
    {"Europe/Berlin", u"2024-12-31T23:30:00Z", u"2025-01-01T00:30:00.000"},
};

// The build names the test after its zone (ZONE_TEST_NAME), so that each program's test has its own
// name in the test list.
TEST(JsonZoneDates, ZONE_TEST_NAME) {
  const char* zone = std::getenv("TZ");
  if (zone == nullptr) GTEST_SKIP() << "runs under CTest with TZ set";
  int checked = 0;
  for (const Row& row : kRows) {
    if (std::string(row.zone) != zone) continue;
    SCOPED_TRACE("value: " + TextToUtf8(row.value));
    const JsonObject root = ParseJsonObject(u"{\"d\":\"" + row.value + u"\"}");
    EXPECT_EQ(root.GetString(u"d"), row.read);
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "no rows for TZ=" << zone;
}

}  // namespace
}  // namespace tessora
