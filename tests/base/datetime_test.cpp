#include "base/datetime.h"

#include <gtest/gtest.h>

namespace tessora {
namespace {

struct DateCase {
  DateTimeParts parts;
  double value;
};

class DateEncoding : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateEncoding, EncodesAndDecodes) {
  const DateCase& c = GetParam();
  const auto encoded = EncodeDateTime(c.parts);
  ASSERT_TRUE(encoded.has_value());
  EXPECT_NEAR(*encoded, c.value, 1e-9);
  const DateTimeParts back = DecodeDateTime(*encoded);
  EXPECT_EQ(back.year, c.parts.year);
  EXPECT_EQ(back.month, c.parts.month);
  EXPECT_EQ(back.day, c.parts.day);
  EXPECT_EQ(back.hour, c.parts.hour);
  EXPECT_EQ(back.minute, c.parts.minute);
  EXPECT_EQ(back.second, c.parts.second);
  EXPECT_EQ(back.millisecond, c.parts.millisecond);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DateEncoding,
    ::testing::Values(DateCase{{1899, 12, 30, 0, 0, 0, 0}, 0.0},
                      DateCase{{1899, 12, 30, 12, 0, 0, 0}, 0.5},
                      DateCase{{1900, 1, 1, 0, 0, 0, 0}, 2.0},
                      DateCase{{1899, 12, 29, 6, 0, 0, 0}, -1.25},
                      DateCase{{2000, 2, 29, 23, 59, 59, 999}, 36585.0 + 86399999.0 / 86400000.0},
                      DateCase{{2025, 12, 8, 10, 35, 12, 0}, 45999.0 + 38112.0 / 86400.0},
                      DateCase{{1, 1, 1, 0, 0, 0, 0}, -693593.0},
                      DateCase{{9999, 12, 31, 0, 0, 0, 0}, 2958465.0}));

TEST(DateEncoding, RefusesFieldsOutOfRange) {
  EXPECT_FALSE(EncodeDateTime({2024, 13, 5, 0, 0, 0, 0}));
  EXPECT_FALSE(EncodeDateTime({2023, 2, 29, 0, 0, 0, 0}));
  EXPECT_FALSE(EncodeDateTime({0, 1, 1, 0, 0, 0, 0}));
  EXPECT_FALSE(EncodeDateTime({2024, 1, 1, 24, 0, 0, 0}));
  EXPECT_FALSE(EncodeDateTime({2024, 1, 1, 0, 60, 0, 0}));
  EXPECT_FALSE(EncodeDateTime({2024, 1, 1, 0, 0, 60, 0}));
  EXPECT_TRUE(EncodeDateTime({2024, 2, 29, 0, 0, 0, 0}));
}

TEST(DateDecoding, RoundsToTheMillisecondAcrossMidnight) {
  const DateTimeParts p = DecodeDateTime(1.0 - 1e-10);
  EXPECT_EQ(p.day, 31);
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.hour, 0);
}

}  // namespace
}  // namespace tessora
