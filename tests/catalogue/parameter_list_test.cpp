#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "catalogue/catalogue.h"

namespace tessora {
namespace {

std::vector<std::string> Utf8Lines(const std::string& block) {
  std::vector<std::string> lines;
  for (const std::u16string& line : SplitLines(Utf8ToText(block)))
    lines.push_back(TextToUtf8(line));
  return lines;
}

struct LinesCase {
  const char* block;
  std::vector<std::string> lines;
};

TEST(SplitLinesTest, BreaksAtCrLfLoneCrAndLoneLf) {
  const LinesCase cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},  // one final break adds no line
      {"a\n", {"a"}},
      {"a\r", {"a"}},
      {"\r\n", {""}},
      {"a\r\n\r\n", {"a", ""}},
      {"a\r\nb", {"a", "b"}},
      {"a\rb", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\n\rb", {"a", "", "b"}},  // LF CR is two breaks
      {"\n\r", {"", ""}},
      {"a\r\r\nb", {"a", "", "b"}},
      {"\r\n\r\nx\r\n", {"", "", "x"}},
      {" a = b \r\n", {" a = b "}},
  };
  for (const LinesCase& c : cases) {
    EXPECT_EQ(Utf8Lines(c.block), c.lines) << "block: " << testing::PrintToString(c.block);
  }
}

TEST(ParameterListTest, NameIsTheTextBeforeTheFirstEquals) {
  const ParameterList list(u"id=42\r\na=b=c\r\nplain\r\n=v\r\n\r\n x = y ");
  ASSERT_EQ(list.Count(), 6u);
  EXPECT_EQ(list.Name(0), u"id");
  EXPECT_EQ(list.Name(1), u"a");
  EXPECT_EQ(list.Name(2), u"plain");
  EXPECT_EQ(list.Name(3), u"");
  EXPECT_EQ(list.Name(4), u"");
  EXPECT_EQ(list.Name(5), u" x ");
}

TEST(ParameterListTest, ValueComesFromTheFirstEntryWithEqualsAndTheNameInAnyCase) {
  const ParameterList list(u"id\r\nID=first\r\nid=second\r\na=b=c\r\n x = y \r\n=empty-name");
  EXPECT_EQ(list.Value(u"id"), u"first");  // "id" alone has no "=" and is passed over
  EXPECT_EQ(list.Value(u"Id"), u"first");
  EXPECT_EQ(list.Value(u"a"), u"b=c");
  EXPECT_EQ(list.Value(u" x "), u" y ");  // nothing is trimmed
  EXPECT_EQ(list.Value(u"x"), u"");
  EXPECT_EQ(list.Value(u""), u"empty-name");
  EXPECT_EQ(list.Value(u"missing"), u"");
}

TEST(ParameterListTest, NamesMatchBeyondAsciiLetterCase) {
  const ParameterList list(Utf8ToText("\xC3\xA9tape=1"));   // étape
  EXPECT_EQ(list.Value(Utf8ToText("\xC3\x89TAPE")), u"1");  // ÉTAPE
}

TEST(ParameterListTest, AnEmptyBlockGivesAnEmptyList) {
  EXPECT_EQ(ParameterList(u"").Count(), 0u);
  EXPECT_EQ(ParameterList().Count(), 0u);
}

}  // namespace
}  // namespace tessora
