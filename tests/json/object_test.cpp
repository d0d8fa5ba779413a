// Reading parsed objects: lookup by name, the typed getters, enumeration and the shared tree.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/text.h"
#include "json/json.h"
#include "json_test_support.h"

namespace tessora {
namespace {

using json_test::DumpTree;
using json_test::FailureOf;

void ExpectInvalidCast(const std::function<void()>& action) {
  const Error error = FailureOf(action);
  EXPECT_EQ(error.Kind(), ErrorKind::kInvalidCast);
  EXPECT_EQ(error.Message(), u"Invalid class typecast");
}

TEST(JsonObject, AnEmptyTextHasNoMembers) {
  JsonObject root = ParseJsonObject(u"");
  EXPECT_FALSE(root.IsEmpty());
  EXPECT_EQ(root.GetString(u"anything"), u"");
  EXPECT_EQ(root.GetInteger(u"anything"), 0);
  EXPECT_TRUE(root.GetEnumerator().empty());
}

// The names a later member replaced, for the endpoint file's doctor: small objects and those past
// the reader's linear search alike.
TEST(JsonObject, TellsWhichNamesALaterMemberReplaced) {
  JsonObject small = ParseJsonObject(uR"({"a":1,"b":{"x":1,"X":2},"A":3,"a":4})");
  EXPECT_EQ(small.ReplacedNames(), (std::vector<std::u16string>{u"a", u"A"}));
  EXPECT_EQ(small.GetObject(u"b").ReplacedNames(), std::vector<std::u16string>{u"x"});
  std::u16string large = u"{";
  for (int i = 0; i < 40; ++i)
    large += u"\"m" + IntToText(i) + u"\":1,";
  large += u"\"M7\":2,\"m30\":3}";
  EXPECT_EQ(ParseJsonObject(large).ReplacedNames(), (std::vector<std::u16string>{u"m7", u"m30"}));
  EXPECT_TRUE(ParseJsonObject(uR"({"a":1})").ReplacedNames().empty());
  EXPECT_TRUE(JsonObject().ReplacedNames().empty());
}

TEST(JsonObject, ReadsTheTokenResponse) {
  const JsonObject root = ParseJsonObject(
      uR"({"scope":"payments","access_token":"A21AAF.x-y_z","token_type":"Bearer",)"
      uR"("app_id":"APP-80W284485P519543T","expires_in":32400,"nonce":"2024-03-05T10:00:00Z"})");
  EXPECT_EQ(root.GetString(u"access_token"), u"A21AAF.x-y_z");
  EXPECT_EQ(root.GetString(u"ACCESS_TOKEN"), u"A21AAF.x-y_z");
  EXPECT_EQ(root.GetString(u"Token_Type"), u"Bearer");
  EXPECT_EQ(root.GetInteger(u"expires_in"), 32400);
}

TEST(JsonObject, LooksNamesUpIgnoringAsciiCaseOnly) {
  const JsonObject root = ParseJsonObject(u"{\"A\":1,\"a\":2,\"\u00e9\":3}");
  EXPECT_EQ(root.GetInteger(u"A"), 2);
  EXPECT_EQ(root.GetInteger(u"\u00e9"), 3);
  EXPECT_EQ(root.GetInteger(u"\u00c9"), 0);
  EXPECT_EQ(root.GetInteger(u"a "), 0);
}

// What each getter gives for each kind of member.
TEST(JsonObject, GettersReadOnlyTheirOwnKind) {
  JsonObject root = ParseJsonObject(
      uR"({"s":"text","d":"2024-03-05","n":3600,"f":3600.0,"e":1e3,"b":true,"a":[1],"o":{"x":1},)"
      uR"("z":null,"w":,"q":"3600"})");
  EXPECT_EQ(root.GetString(u"s"), u"text");
  EXPECT_EQ(root.GetString(u"d"), u"2024-03-05");
  EXPECT_EQ(root.GetString(u"z"), u"");
  EXPECT_EQ(root.GetString(u"w"), u"");
  EXPECT_EQ(root.GetString(u"missing"), u"");
  for (const char16_t* name : {u"n", u"f", u"e", u"b", u"a", u"o"}) {
    SCOPED_TRACE(TextToUtf8(name));
    ExpectInvalidCast([&] { root.GetString(name); });
  }

  EXPECT_EQ(root.GetInteger(u"n"), 3600);
  EXPECT_EQ(root.GetInteger(u"z"), 0);
  EXPECT_EQ(root.GetInteger(u"w"), 0);
  EXPECT_EQ(root.GetInteger(u"missing"), 0);
  for (const char16_t* name : {u"s", u"d", u"f", u"e", u"b", u"a", u"o", u"q"}) {
    SCOPED_TRACE(TextToUtf8(name));
    ExpectInvalidCast([&] { root.GetInteger(name); });
  }

  EXPECT_EQ(root.GetObject(u"o").GetInteger(u"x"), 1);
  for (const char16_t* name : {u"s", u"d", u"n", u"f", u"e", u"b", u"a", u"q"}) {
    SCOPED_TRACE(TextToUtf8(name));
    ExpectInvalidCast([&] { root.GetObject(name); });
  }
  // A failed getter leaves the tree as it was, and reading goes on.
  EXPECT_EQ(DumpTree(root),
            R"({s:"text",d:date(2024-03-05),n:3600,f:float(3600),e:float(1000),b:true,a:[1],)"
            R"(o:{x:1},z:null,w:,q:"3600"})");
}

TEST(JsonObject, NullAndValuelessMembersReadAsObjectsWithoutMembers) {
  JsonObject root = ParseJsonObject(uR"({"z":null,"w":})");
  for (const char16_t* name : {u"z", u"w"}) {
    JsonObject object = root.GetObject(name);
    EXPECT_FALSE(object.IsEmpty());
    EXPECT_TRUE(object.GetEnumerator().empty());
    EXPECT_EQ(object.GetString(u"x"), u"");
  }
  // Nothing was stored: the members keep their kinds.
  EXPECT_EQ(DumpTree(root), "{z:null,w:}");
}

TEST(JsonObject, GetObjectStoresAMissingObject) {
  JsonObject root = ParseJsonObject(uR"({"a":1})");
  JsonObject endpoints = root.GetObject(u"ENDPOINTS");
  EXPECT_TRUE(endpoints.GetEnumerator().empty());
  EXPECT_EQ(DumpTree(root), "{a:1,ENDPOINTS:{}}");
  // The stored object is the one returned: it is found again, in any letter case, and what is
  // stored in it shows through every handle.
  endpoints.GetObject(u"inner");
  EXPECT_EQ(DumpTree(root.GetObject(u"endpoints")), "{inner:{}}");
  EXPECT_EQ(DumpTree(root), "{a:1,ENDPOINTS:{inner:{}}}");
}

TEST(JsonObject, EnumeratesMembersInOrder) {
  const JsonObject root =
      ParseJsonObject(uR"({"b":{"x":1}, "a":{}, "n":null, "w":, "s":"t", "B":{"y":2}})");
  const auto members = root.GetEnumerator();
  ASSERT_EQ(members.size(), 5u);
  std::vector<std::u16string> names;
  for (const auto& member : members)
    names.push_back(member.Name());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"a", u"n", u"w", u"s", u"B"}));

  EXPECT_EQ(members[0].Kind(), DataType::kObject);
  EXPECT_EQ(DumpTree(members[0].AsObject()), "{}");
  EXPECT_EQ(members[1].Kind(), DataType::kNull);
  ExpectInvalidCast([&] { members[1].AsObject(); });
  EXPECT_EQ(members[2].Kind(), DataType::kNil);
  EXPECT_TRUE(members[2].AsObject().IsEmpty());
  EXPECT_EQ(members[3].Kind(), DataType::kString);
  ExpectInvalidCast([&] { members[3].AsObject(); });
  EXPECT_EQ(DumpTree(members[4].AsObject()), "{y:2}");
}

TEST(JsonObject, AnEmptyHandleReadsAsAnObjectWithoutMembers) {
  JsonObject empty;
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ(empty.GetString(u"route"), u"");
  EXPECT_EQ(empty.GetInteger(u"n"), 0);
  EXPECT_TRUE(empty.GetEnumerator().empty());
  JsonObject created = empty.GetObject(u"x");
  EXPECT_FALSE(created.IsEmpty());
  EXPECT_TRUE(created.GetEnumerator().empty());
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(JsonObject, HandlesKeepTheTreeAlive) {
  JsonObject inner;
  std::vector<JsonObject::Member> members;
  {
    JsonObject root = ParseJsonObject(uR"({"a":{"b":{"c":"deep"}},"d":{}})");
    inner = root.GetObject(u"a").GetObject(u"b");
    members = root.GetEnumerator();
  }
  EXPECT_EQ(inner.GetString(u"c"), u"deep");
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(DumpTree(members[0].AsObject()), R"({b:{c:"deep"}})");
}

TEST(JsonObject, MemberNamesStayValidWhileTheOwnerGrows) {
  JsonObject root = ParseJsonObject(uR"({"first":{}})");
  const auto members = root.GetEnumerator();
  const std::u16string& name = members[0].Name();
  for (int i = 0; i < 100; ++i)
    root.GetObject(u"added" + IntToText(i));
  EXPECT_EQ(name, u"first");
  EXPECT_EQ(members[0].Kind(), DataType::kObject);
  EXPECT_EQ(root.GetEnumerator().size(), 101u);
}

// Objects with many members find duplicates through an index; the outcome is the same as for
// small ones: the last occurrence, in its place, with its name as written.
TEST(JsonObject, ReplacesDuplicatesInLargeObjects) {
  std::u16string text = u"{";
  for (int i = 0; i < 200; ++i)
    text += u"\"m" + IntToText(i) + u"\":" + IntToText(i) + u",";
  text += u"\"M7\":-7,\"m100\":-100,\"M7\":-77,\"new\":1}";
  const JsonObject root = ParseJsonObject(text);
  const auto members = root.GetEnumerator();
  ASSERT_EQ(members.size(), 201u);
  EXPECT_EQ(members[6].Name(), u"m6");
  EXPECT_EQ(members[7].Name(), u"m8");
  EXPECT_EQ(members[197].Name(), u"m199");
  EXPECT_EQ(members[198].Name(), u"m100");
  EXPECT_EQ(members[199].Name(), u"M7");
  EXPECT_EQ(members[200].Name(), u"new");
  EXPECT_EQ(root.GetInteger(u"m7"), -77);
  EXPECT_EQ(root.GetInteger(u"M100"), -100);
  EXPECT_EQ(root.GetInteger(u"m150"), 150);
}

// Against the plain rule (remove the matching member, append the new one) for member sequences
// with many repeated names in mixed letter case, below and above the size where the index starts.
TEST(JsonObject, ReplacesDuplicatesAsThePlainRuleDoes) {
  std::uint32_t seed = 12345;
  const auto next = [&seed](std::uint32_t range) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % range;
  };
  for (int round = 0; round < 200; ++round) {
    const int count = static_cast<int>(next(60));
    const std::uint32_t distinct = 1 + next(40);
    std::u16string text = u"{";
    std::vector<std::pair<std::string, int>> expected;
    for (int i = 0; i < count; ++i) {
      std::string name = "name" + std::to_string(next(distinct));
      if (next(2) == 0) name[0] = 'N';
      if (next(3) == 0) name[2] = 'M';
      text += u"\"" + AsciiToText(name) + u"\":" + IntToText(i) + u",";
      for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (SameTextAscii(AsciiToText(it->first), AsciiToText(name))) {
          expected.erase(it);
          break;
        }
      }
      expected.emplace_back(name, i);
    }
    std::string dump = "{";
    for (const auto& [name, value] : expected) {
      dump += (dump.size() > 1 ? "," : "") + name + ":" + std::to_string(value);
    }
    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_EQ(DumpTree(ParseJsonObject(text + u"}")), dump + "}");
  }
}

// The endpoint catalogue reads its file in this order.
TEST(JsonObject, ReadsAnEndpointFileAsTheCatalogueDoes) {
  JsonObject root = ParseJsonObject(
      uR"({
    "ENDPOINTS": {
      "AUTHORIZE": {"route": "/v1/oauth2/token", "method": "POST"},
      "GET_ORDER": {'route': '/v2/checkout/orders/:id', method: "GET",},
      "CANCEL":    {"route": "/v1/payments/:id/cancel", "method": "post"},
      "EMPTY": ,
    }
  })");
  std::u16string seen;
  for (const auto& member : root.GetObject(u"ENDPOINTS").GetEnumerator()) {
    const std::u16string route = member.AsObject().GetString(u"route");
    const std::u16string method = member.AsObject().GetString(u"method");
    seen += member.Name() + u" " + route + u" " + method + u";";
  }
  EXPECT_EQ(seen,
            u"AUTHORIZE /v1/oauth2/token POST;GET_ORDER /v2/checkout/orders/:id GET;"
            u"CANCEL /v1/payments/:id/cancel post;EMPTY  ;");
}

}  // namespace
}  // namespace tessora
