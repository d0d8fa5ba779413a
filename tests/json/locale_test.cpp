// Numbers and dates read the same whatever the process locale, also where the locale writes
// decimals with a comma.
#include <clocale>
#include <locale>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "json/json.h"
#include "json_test_support.h"

namespace tessora {
namespace {

class CommaDecimalLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "pt_BR.UTF-8", "de_DE"}) {
      if (std::setlocale(LC_ALL, name) == nullptr) continue;
      if (std::string(std::localeconv()->decimal_point) != ",") continue;
      try {
        std::locale::global(std::locale(name));
      } catch (const std::runtime_error&) {
        continue;
      }
      return;
    }
    std::setlocale(LC_ALL, "C");
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }

  void TearDown() override {
    std::locale::global(std::locale::classic());
    std::setlocale(LC_ALL, "C");
  }
};

TEST_F(CommaDecimalLocale, NumbersAndDatesReadAsInTheCLocale) {
  EXPECT_EQ(json_test::ParseOutcome(uR"({"a":1.5,"b":-2.5e3,"c":0.001,"d":1234567})"),
            "{a:float(1.5),b:float(-2500),c:float(0.001),d:1234567}");
  EXPECT_EQ(json_test::ParseOutcome(uR"({"n":1,5})"),
            "error: Unexpected end of input. (Line: 1 Col: 8)");
  const JsonObject root = ParseJsonObject(uR"({"t":"2024-03-05T10:00:00.5"})");
  EXPECT_EQ(root.GetString(u"t"), u"2024-03-05T10:00:00.500");
}

}  // namespace
}  // namespace tessora
