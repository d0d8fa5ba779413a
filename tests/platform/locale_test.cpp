#include "platform/locale.h"

#include <gtest/gtest.h>

#include "support/time_stamp_formats.h"

namespace tessora::platform {
namespace {

TEST(CaseInsensitiveText, ComparesLettersWithoutCase) {
  EXPECT_TRUE(SameTextIgnoreCase(u"id", u"ID"));
  EXPECT_TRUE(SameTextIgnoreCase(u"\u00E9t\u00E9", u"\u00C9T\u00C9"));
  EXPECT_TRUE(SameTextIgnoreCase(u"", u""));
  EXPECT_FALSE(SameTextIgnoreCase(u"id", u"id "));
  EXPECT_FALSE(SameTextIgnoreCase(u"id", u""));
  EXPECT_FALSE(SameTextIgnoreCase(u"a", u"b"));
}

TEST(UpperCase, KeepsTheLength) {
  EXPECT_EQ(UpperCaseText(u"/api/items/:id"), u"/API/ITEMS/:ID");
  EXPECT_EQ(UpperCaseText(u"\u00E9\u00E7"), u"\u00C9\u00C7");
  const std::u16string sharpS = u"stra\u00DFe";
  EXPECT_EQ(UpperCaseText(sharpS).size(), sharpS.size());
  const std::u16string pair = u"\U0001F600x";
  EXPECT_EQ(UpperCaseText(pair), u"\U0001F600X");
}

TEST(TimeStampFormats, FollowTheFormatsInForce) {
  test::UseDayMonthYearTimeStamps();
  const DateTimeParts parts{2025, 12, 8, 10, 35, 12, 0};
  EXPECT_EQ(FormatShortDate(parts), u"08/12/2025");
  EXPECT_EQ(FormatLongTime(parts), u"10:35:12");
}

}  // namespace
}  // namespace tessora::platform
