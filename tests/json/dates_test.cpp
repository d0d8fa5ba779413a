// Strings that are read as dates, and strings that stay strings. None of these carries Z or an
// offset, so the results do not depend on the machine's time zone.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/text.h"
#include "json/json.h"
#include "json_test_support.h"

namespace tessora {
namespace {

struct Row {
  std::u16string value;  // the string value as written in the JSON text, without quotes
  std::string member;    // the member as DumpTree shows it
};

void CheckRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE("value: " + TextToUtf8(row.value));
    EXPECT_EQ(json_test::ParseOutcome(u"{\"d\":\"" + row.value + u"\"}"), "{d:" + row.member + "}");
  }
}

TEST(JsonDates, RecognisesTheThreeForms) {
  CheckRows({
      {u"2024-03-05", "date(2024-03-05)"},
      {u"2024-03-05T10:00:00", "datetime(2024-03-05T10:00:00.000)"},
      {u"2024-03-05T14:07:09.250", "datetime(2024-03-05T14:07:09.250)"},
      {u"2024-03-05T14:07:09.5", "datetime(2024-03-05T14:07:09.500)"},
      {u"10:00:00.5", "time(10:00:00.500)"},
      {u"10:00:00.05", "time(10:00:00.050)"},
      {u"23:59:59.123", "time(23:59:59.123)"},
      {u"00:00:00", "time(00:00:00.000)"},
      {u"2024-02-29", "date(2024-02-29)"},
      {u"0001-01-01", "date(0001-01-01)"},
      {u"9999-12-31T23:59:59.999", "datetime(9999-12-31T23:59:59.999)"},
      // Code units up to U+0020 around the form are disregarded; the length counts them.
      {u"\\t 2024-03-05 \\n", "date(2024-03-05)"},
      {u"2024-03-05T10:00:00.000  ", "datetime(2024-03-05T10:00:00.000)"},
      {u"\\u0032024-03-05", "date(2024-03-05)"},
  });
}

TEST(JsonDates, LeavesOtherStringsAsTheyAre) {
  CheckRows({
      {u"2024-13-05", R"("2024-13-05")"},
      {u"2023-02-29", R"("2023-02-29")"},
      {u"2024-02-30", R"("2024-02-30")"},
      {u"0000-01-01", R"("0000-01-01")"},
      {u"24:00:00", R"("24:00:00")"},
      {u"23:60:00", R"("23:60:00")"},
      {u"23:59:60", R"("23:59:60")"},
      {u"2024-03-05t10:00:00", R"("2024-03-05t10:00:00")"},
      {u"2024-03-05T10:00:00z", R"("2024-03-05T10:00:00z")"},
      {u"2024-03-05 10:00:00", R"("2024-03-05 10:00:00")"},
      {u"2024-03-05T10:00", R"("2024-03-05T10:00")"},
      {u"2024-03-05T10:00:00.", R"("2024-03-05T10:00:00.")"},
      {u"2024-03-05T10:00:00.1234", R"("2024-03-05T10:00:00.1234")"},
      {u"2024-03-05T10:00:00+1:00", R"("2024-03-05T10:00:00+1:00")"},
      {u"10:00:00.5Z", R"("10:00:00.5Z")"},
      {u"2024-3-5", R"("2024-3-5")"},
      {u"1:00:00", R"("1:00:00")"},
      {u"12345", R"("12345")"},
      {u"2024-03-05x", R"("2024-03-05x")"},
      {u"\u0662\u0660\u0662\u0664-03-05", R"("\u0662\u0660\u0662\u0664-03-05")"},
      // 26 code units and more are never dates, even when the form matches.
      {u"2024-03-05T10:00:00.000   ", R"("2024-03-05T10:00:00.000   ")"},
      {u"2024-03-05T10:00:00.123+01:00", R"("2024-03-05T10:00:00.123+01:00")"},
      {u"2024-03-05T10:00:00.123Z+01:00", R"("2024-03-05T10:00:00.123Z+01:00")"},
  });
}

TEST(JsonDates, ReadBackInTheirNormalisedForm) {
  const JsonObject root =
      ParseJsonObject(uR"({"dt":"2024-03-05T14:07:09.25","d":" 2024-03-05","t":"14:07:09"})");
  EXPECT_EQ(root.GetString(u"dt"), u"2024-03-05T14:07:09.250");
  EXPECT_EQ(root.GetString(u"d"), u"2024-03-05");
  EXPECT_EQ(root.GetString(u"t"), u"14:07:09.000");
  const auto members = root.GetEnumerator();
  EXPECT_EQ(members[0].Kind(), DataType::kDateTime);
  EXPECT_EQ(members[1].Kind(), DataType::kDate);
  EXPECT_EQ(members[2].Kind(), DataType::kTime);
}

}  // namespace
}  // namespace tessora
