// What texts parse to: the tree they give, or the exact failure with its position.
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "base/text.h"
#include "json/json.h"
#include "json_test_support.h"

namespace tessora {
namespace {

using namespace std::string_literals;
using json_test::ParseOutcome;

struct Row {
  std::u16string input;
  std::string outcome;
};

void CheckRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE("input: " + TextToUtf8(row.input));
    EXPECT_EQ(ParseOutcome(row.input), row.outcome);
  }
}

TEST(JsonParse, AcceptsStructureLeniently) {
  CheckRows({
      {u"", "{}"},
      {u"{}", "{}"},
      {u"{,}", "{}"},
      {uR"({"a":1,})", "{a:1}"},
      {uR"({"a":1,,"b":2,})", "{a:1,b:2}"},
      {uR"({"a":[1,,2]})", "{a:[1,2]}"},
      {uR"({"a":[,1,]})", "{a:[1]}"},
      {uR"({"a":[]})", "{a:[]}"},
      {uR"({"a":})", "{a:}"},
      {uR"({"a":,"b":2})", "{a:,b:2}"},
      {uR"({'route': '/orders/:id', method: "GET",})", R"({route:"/orders/:id",method:"GET"})"},
      {uR"({"a":{"b":{"c":[{"d":[]}]}}})", "{a:{b:{c:[{d:[]}]}}}"},
      {uR"({"a":[1,"s",true,null,{},[2]]})", R"({a:[1,"s",true,null,{},[2]]})"},
      {u"{\r\n\t\"a\" :\t1 ,\r\n}", "{a:1}"},
      {uR"({"":1})", "{:1}"},
  });
}

TEST(JsonParse, IgnoresWhatFollowsTheRootObject) {
  CheckRows({
      {uR"({"x":1} trailing <html> ' " 12ab \u12G)", "{x:1}"},
      {uR"({"x":1}})", "{x:1}"},
      {u"{\"x\":1}\\", "{x:1}"},
      // The text ends at its first U+0000.
      {u"{\"x\":1}\0{<<"s, "{x:1}"},
      {u"{\"x\":\0 1}"s, "error: Unexpected end of input. (Line: 1 Col: 5)"},
  });
}

TEST(JsonParse, KeepsTheLastOfMembersWithTheSameName) {
  CheckRows({
      {uR"({"A":1,"a":2})", "{a:2}"},
      {uR"({"a":1,"b":2,"A":3})", "{b:2,A:3}"},
      {uR"({"a":1,"A":{},"a":[]})", "{a:[]}"},
      {uR"({"a":"x","a":})", "{a:}"},
      // Only ASCII letters compare alike.
      {u"{\"\u00e9\":1,\"\u00c9\":2}", R"({\u00E9:1,\u00C9:2})"},
  });
}

TEST(JsonParse, ReadsStringsAndEscapes) {
  CheckRows({
      {uR"({"s":"a\nb"})", R"({s:"a\u000Ab"})"},
      {uR"({"s":"\u00e9"})", R"({s:"\u00E9"})"},
      {uR"({"s":"\ud83d\ude00"})", R"({s:"\uD83D\uDE00"})"},
      {uR"({"s":"\ud83d!"})", R"({s:"\uD83D!"})"},
      {uR"({"s":"\q\/\a\'\"\\"})", R"({s:"q/a'\u0022\u005C"})"},
      {uR"({"s":"\b\f\n\r\t\v"})", R"({s:"\u0008\u000C\u000A\u000D\u0009\u000B"})"},
      {uR"({"s":"\U0041"})", R"({s:"U0041"})"},
      {uR"({"s":"\u0022"})", R"({s:"\u0022"})"},
      {uR"({"s":'say "hi"', "t":"it's"})", R"({s:"say \u0022hi\u0022",t:"it's"})"},
      {u"{\"s\":\"a\tb\"}", R"({s:"a\u0009b"})"},
      {u"{\"s\":\"\u00e9\U0001F600\"}", R"({s:"\u00E9\uD83D\uDE00"})"},
      {u"{\"s\":\"\xD800\"}", R"({s:"\uD800"})"},
  });
}

TEST(JsonParse, ReadsNamesAndLiterals) {
  CheckRows({
      {uR"({"a":TRUE,"b":False,"c":NULL,"d":nuLL,"e":true})",
       "{a:true,b:false,c:null,d:null,e:true}"},
      // An escape joins the token being read, whatever it is.
      {uR"({"a":tr\u0075e})", "{a:true}"},
      {uR"({a\u0062:1})", "{ab:1}"},
      {uR"({$x_1:1, _y:2})", "{$x_1:1,_y:2}"},
      {u"{\u00f1ame:1}", R"({\u00F1ame:1})"},
      {uR"({true:1,False:2})", "{true:1,False:2}"},
      {uR"({"2024-03-05":1})", "{2024-03-05:1}"},
  });
}

TEST(JsonParse, ReadsNumbers) {
  CheckRows({
      {uR"({"n":9223372036854775807,"m":-9223372036854775808})",
       "{n:9223372036854775807,m:-9223372036854775808}"},
      {uR"({"n":007,"m":-0})", "{n:7,m:0}"},
      {uR"({"n":1\u0032})", "{n:12}"},
      {uR"({"a":1e3,"b":1.0,"c":-1.5E-3,"d":2e+2,"e":-.5,"f":1.,"g":1.e5,"h":0.1})",
       "{a:float(1000),b:float(1),c:float(-0.0015),d:float(200),e:float(-0.5),f:float(1),"
       "g:float(1e+05),h:float(0.1)}"},
      {uR"({"a":1.7976931348623157e308,"b":4.9e-324})",
       "{a:float(1.7976931348623157e+308),b:float(5e-324)}"},
  });
}

TEST(JsonParse, RejectsIllegalCodeUnitsWithTheirPosition) {
  CheckRows({
      {u"<html>", "error: Unexpected token ILLEGAL. (Line: 1 Col: 0)"},
      {u"{\n<", "error: Unexpected token ILLEGAL. (Line: 2 Col: 2)"},
      {uR"({"n":12ab})", "error: Unexpected token ILLEGAL. (Line: 1 Col: 7)"},
      {uR"({"n":1-2})", "error: Unexpected token ILLEGAL. (Line: 1 Col: 6)"},
      {uR"({"n":1e})", "error: Unexpected token ILLEGAL. (Line: 1 Col: 7)"},
      {uR"({"n":1e+})", "error: Unexpected token ILLEGAL. (Line: 1 Col: 8)"},
      {uR"({"n":1e\u0032})", "error: Unexpected token ILLEGAL. (Line: 1 Col: 13)"},
      {uR"({"a":+1})", "error: Unexpected token ILLEGAL. (Line: 1 Col: 5)"},
      {uR"(// comment)", "error: Unexpected token ILLEGAL. (Line: 1 Col: 0)"},
      // A raw line break inside a string; the position moves to the new line as soon as the
      // code unit before it is consumed.
      {u"{\"a\":\"ab\ncd\"}", "error: Unexpected token ILLEGAL. (Line: 2 Col: 1)"},
      {u"{\"a\":\"ab\rcd\"}", "error: Unexpected token ILLEGAL. (Line: 1 Col: 8)"},
      {u"{\"a\":'ab\n'}", "error: Unexpected token ILLEGAL. (Line: 2 Col: 1)"},
      {uR"({"a":"\u12G4"})", "error: Unexpected token ILLEGAL. (Line: 1 Col: 10)"},
  });
}

TEST(JsonParse, RejectsMissingColonsAndUnclosedContainers) {
  CheckRows({
      {uR"({"a" 1})", "error: Expected :. (Line: 1 Col: 6)"},
      {uR"({"a")", "error: Expected :. (Line: 1 Col: 4)"},
      {uR"({"a":1,"b"})", "error: Expected :. (Line: 1 Col: 11)"},
      {u"{\r\n\"a\" 1}", "error: Expected :. (Line: 2 Col: 7)"},
      {uR"({a b:1})", "error: Expected :. (Line: 1 Col: 4)"},
      // The escape makes the colon part of the word a: before it.
      {uR"({\u0061:1})", "error: Expected :. (Line: 1 Col: 9)"},
      {uR"({"a":[1 2]})", "error: Unexpected end of input. (Line: 1 Col: 9)"},
      {uR"({"a":1 "b":2})", "error: Unexpected end of input. (Line: 1 Col: 10)"},
      {uR"({"a":1)", "error: Unexpected end of input. (Line: 1 Col: 6)"},
      {uR"({1:2})", "error: Unexpected end of input. (Line: 1 Col: 2)"},
      {uR"({null:1})", "error: Unexpected end of input. (Line: 1 Col: 5)"},
      {uR"({"a\nb":1})", "error: Unexpected end of input. (Line: 1 Col: 7)"},
      {uR"({a\nb:1})", "error: Unexpected end of input. (Line: 1 Col: 5)"},
      {uR"({"a":true1})", "error: Unexpected end of input. (Line: 1 Col: 10)"},
      {uR"({"a":abc})", "error: Unexpected end of input. (Line: 1 Col: 8)"},
      {uR"({"n":1..2})", "error: Unexpected end of input. (Line: 1 Col: 8)"},
      {uR"({"a": .5})", "error: Unexpected end of input. (Line: 1 Col: 7)"},
      {uR"({"n":1e)", "error: Unexpected end of input. (Line: 1 Col: 7)"},
      {uR"({"a":"abc)", "error: Unexpected end of input. (Line: 1 Col: 9)"},
      {uR"({"a":"\u12)", "error: Unexpected end of input. (Line: 1 Col: 10)"},
      {u"{\"a\":\"x\\", "error: Unexpected end of input. (Line: 1 Col: 8)"},
      {uR"({"a":[)", "error: Unexpected end of input. (Line: 1 Col: 6)"},
      {uR"({"a":]})", "error: Unexpected end of input. (Line: 1 Col: 6)"},
      {uR"({])", "error: Unexpected end of input. (Line: 1 Col: 2)"},
      {uR"({"a":{"b":1})", "error: Unexpected end of input. (Line: 1 Col: 12)"},
  });
}

TEST(JsonParse, RejectsNumbersThatDoNotConvert) {
  CheckRows({
      {uR"({"n": 9223372036854775808})",
       "conversion error: '9223372036854775808' is not a valid integer value"},
      {uR"({"n": -9223372036854775809})",
       "conversion error: '-9223372036854775809' is not a valid integer value"},
      {uR"({"n":-})", "conversion error: '-' is not a valid integer value"},
      {uR"({"n":\[1]})", "conversion error: '[1' is not a valid integer value"},
      {uR"({"n":1\a})", "conversion error: '1a' is not a valid integer value"},
      {uR"({"n":-.})", "conversion error: "},
      {uR"({"n":1E400})", "conversion error: "},
      {uR"({"n":1e-400})", "conversion error: "},
      {uR"({"n":1.\u0069nf})", "error: Unexpected token ILLEGAL. (Line: 1 Col: 13)"},
  });
}

// The root must be an object; anything else where it is due fails after the token found.
TEST(JsonParse, RejectsARootThatIsNoObject) {
  CheckRows({
      {u"\0{}"s, "error: Expected {. (Line: 1 Col: 0)"},
      {u"   ", "error: Expected {. (Line: 1 Col: 3)"},
      {u"Bad Gateway", "error: Expected {. (Line: 1 Col: 3)"},
      {u"\uFEFF{}", "error: Expected {. (Line: 1 Col: 1)"},
      {uR"([1,2])", "error: Expected {. (Line: 1 Col: 1)"},
      {uR"("text")", "error: Expected {. (Line: 1 Col: 6)"},
      {uR"("cut off)", "error: Expected {. (Line: 1 Col: 8)"},
      {u"42", "error: Expected {. (Line: 1 Col: 2)"},
      {u"1e", "error: Expected {. (Line: 1 Col: 2)"},
      {u"true", "error: Expected {. (Line: 1 Col: 4)"},
      {u"null", "error: Expected {. (Line: 1 Col: 4)"},
      {u"}", "error: Expected {. (Line: 1 Col: 1)"},
      {u"\\", "error: Expected {. (Line: 1 Col: 1)"},
  });
}

std::u16string NestedObjects(int levels) {
  std::u16string text = u"{";
  for (int i = 1; i < levels; ++i)
    text += u"\"a\":{";
  return text + std::u16string(static_cast<std::size_t>(levels), u'}');
}

TEST(JsonParse, LimitsNesting) {
  EXPECT_EQ(ParseOutcome(NestedObjects(kJsonMaxNesting)).substr(0, 10), "{a:{a:{a:{");
  const std::size_t inner = kJsonMaxNesting - 1;
  EXPECT_EQ(
      ParseOutcome(u"{\"a\":" + std::u16string(inner, u'[') + std::u16string(inner, u']') + u"}")
          .substr(0, 6),
      "{a:[[[");

  // One level more fails after the opening mark that passes the limit.
  EXPECT_EQ(ParseOutcome(NestedObjects(kJsonMaxNesting + 1)),
            "error: Nesting deeper than 512 levels. (Line: 1 Col: 2561)");
  std::u16string deepArrays = u"{\"a\":" + std::u16string(kJsonMaxNesting, u'[');
  EXPECT_EQ(ParseOutcome(deepArrays), "error: Nesting deeper than 512 levels. (Line: 1 Col: 517)");
  // Far deeper texts fail the same way, without exhausting the stack.
  EXPECT_EQ(ParseOutcome(u"{\"a\":" + std::u16string(1000000, u'[')),
            "error: Nesting deeper than 512 levels. (Line: 1 Col: 517)");
}

// "{"a":[" + `values` numbers "1" + "]}": the root, the array and the numbers are values. With
// `lastWithoutValue` one more object, holding a member written without a value: two more.
std::u16string ManyValues(std::int64_t values, bool lastWithoutValue) {
  std::u16string text = u"{\"a\":[";
  for (std::int64_t i = 0; i < values; ++i)
    text += i == 0 ? u"1" : u",1";
  return text + (lastWithoutValue ? u",{\"m\":}]}" : u"]}");
}

TEST(JsonParse, LimitsTheNumberOfValues) {
  // The root, the array and the numbers count; a member written without a value too.
  EXPECT_NO_THROW(ParseJsonObject(ManyValues(kJsonMaxValues - 4, true)));
  // One more fails after the value, or the member, that passes it.
  EXPECT_EQ(ParseOutcome(ManyValues(kJsonMaxValues - 1, false)),
            "error: More than 1000000 values. (Line: 1 Col: 2000003)");
  EXPECT_EQ(ParseOutcome(ManyValues(kJsonMaxValues - 3, true)),
            "error: More than 1000000 values. (Line: 1 Col: 2000006)");
}

}  // namespace
}  // namespace tessora
