#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "catalogue/catalogue.h"
#include "platform/codepage.h"
#include "platform/file.h"
#include "support/failure_of.h"
#include "support/file_hold.h"
#include "support/temp_dir.h"

namespace tessora {
namespace {

using namespace std::string_literals;

using test::FailureOf;

std::string Utf8(const std::u16string& text) {
  return TextToUtf8(text);
}

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::InitAnsiCodePage(); }

  std::u16string Write(const std::string& bytes, const std::string& name = "endpoints.json") {
    test::WriteFileBytes(dir_ / name, bytes);
    return (dir_ / name).u16string();
  }
  // Loads a catalogue from `json` (UTF-8 without a mark).
  Config Load(const std::string& json) { return Config(Write(json)); }
  Error LoadFailure(const std::string& json) {
    return FailureOf([&] { Config config(Write(json)); });
  }
  // The failure of a catalogue with one operation whose value is `operation`.
  Error OperationFailure(const std::string& operation) {
    return LoadFailure("{\"ENDPOINTS\":{\"OP\":" + operation + "}}");
  }

  test::TempDir dir_;
};

void ExpectFailure(const Error& error, ErrorKind kind, const std::u16string& message) {
  EXPECT_EQ(error.Kind(), kind) << Utf8(error.Message());
  EXPECT_EQ(Utf8(error.Message()), Utf8(message));
}

TEST(ConfigLookupTest, MethodNamesInAnyAsciiLetterCase) {
  const ConfigLookup lookup;
  const struct {
    const char16_t* name;
    HttpMethod method;
  } cases[] = {
      {u"GET", HttpMethod::kGet},       {u"get", HttpMethod::kGet},
      {u"Get", HttpMethod::kGet},       {u"gEt", HttpMethod::kGet},
      {u"POST", HttpMethod::kPost},     {u"post", HttpMethod::kPost},
      {u"PuT", HttpMethod::kPut},       {u"DELETE", HttpMethod::kDelete},
      {u"delete", HttpMethod::kDelete},
  };
  for (const auto& c : cases)
    EXPECT_EQ(lookup.MethodNamed(c.name), c.method) << Utf8(c.name);
}

TEST(ConfigLookupTest, AnythingElseIsItemNotFound) {
  const ConfigLookup lookup;
  const std::u16string names[] = {
      u"PATCH",
      u" GET",
      u"GET ",
      u"",
      u"GETS",
      u"HEAD",
      u"GE T",
      u"po\u017Ft",           // the long s upper-cases to S only beyond ASCII
      u"\uFF27\uFF25\uFF34",  // full-width GET
      u"GET\0"s,
  };
  for (const std::u16string& name : names) {
    ExpectFailure(FailureOf([&] { lookup.MethodNamed(name); }), ErrorKind::kListError,
                  u"Item not found");
  }
  EXPECT_EQ(static_cast<int>(HttpMethod::kDelete), 3);
  EXPECT_EQ(sizeof(HttpMethod), 1u);
}

TEST_F(CatalogueTest, OperationsKeepTheirRouteVerbatimAndTheirMethod) {
  const Config config = Load(R"({
    "ENDPOINTS": {
      "AUTHORIZE": {"route": "/api/authorize", "method": "POST"},
      "ITEM_DETAIL": {"route": "/api/items/:id", "method": "get"},
      "ITEM_UPDATE": {"route": " /api/items/:id?x= 1 ", "method": "Put", "note": "ignored"},
      "ITEM_DELETE": {"method": "gEt", "route": "/api/items/:id", "method": "DeLeTe"}
    },
    "OTHER": [1, 2, 3]
  })");
  EXPECT_EQ(config.Count(), 4u);
  const ConfigItem authorize = config.GetEndpoint(u"AUTHORIZE");
  EXPECT_EQ(authorize.endpoint, u"/api/authorize");
  EXPECT_EQ(authorize.method, HttpMethod::kPost);
  EXPECT_EQ(config.GetEndpoint(u"ITEM_DETAIL").endpoint, u"/api/items/:id");
  EXPECT_EQ(config.GetEndpoint(u"ITEM_DETAIL").method, HttpMethod::kGet);
  EXPECT_EQ(config.GetEndpoint(u"ITEM_UPDATE").endpoint, u" /api/items/:id?x= 1 ");
  EXPECT_EQ(config.GetEndpoint(u"ITEM_UPDATE").method, HttpMethod::kPut);
  EXPECT_EQ(config.GetEndpoint(u"ITEM_DELETE").method, HttpMethod::kDelete);
}

TEST_F(CatalogueTest, MemberNamesOfTheFileMatchInAnyLetterCase) {
  const Config config = Load(R"({endpoints: {'A': {ROUTE: '/a', Method: 'get',},},})");
  EXPECT_EQ(config.GetEndpoint(u"A").endpoint, u"/a");
}

TEST_F(CatalogueTest, LookupIsExactAndFailsWithProblemInEndpoint) {
  const Config config = Load(R"({"ENDPOINTS":{"AUTHORIZE":{"route":"/a","method":"POST"}}})");
  for (const std::u16string name : {u"authorize", u"Authorize", u"AUTHORIZE ", u"", u"OTHER"}) {
    ExpectFailure(FailureOf([&] { config.GetEndpoint(name); }), ErrorKind::kPlain,
                  u"Problem in endpoint");
  }
}

TEST_F(CatalogueTest, OfTwoNamesDifferingInCaseOnlyTheLaterExists) {
  const Config config = Load(R"({"ENDPOINTS":{
      "Item": {"route": "/first", "method": "GET"},
      "ITEM": {"route": "/second", "method": "POST"}}})");
  EXPECT_EQ(config.Count(), 1u);
  EXPECT_EQ(config.GetEndpoint(u"ITEM").endpoint, u"/second");
  EXPECT_EQ(config.GetEndpoint(u"ITEM").method, HttpMethod::kPost);
  ExpectFailure(FailureOf([&] { config.GetEndpoint(u"Item"); }), ErrorKind::kPlain,
                u"Problem in endpoint");
}

TEST_F(CatalogueTest, AnAbsentOrNullRouteIsEmpty) {
  const Config config = Load(R"({"ENDPOINTS":{
      "A": {"method": "GET"}, "B": {"route": null, "method": "GET"}, "C": {"route": "", "method": "GET"}}})");
  EXPECT_EQ(config.GetEndpoint(u"A").endpoint, u"");
  EXPECT_EQ(config.GetEndpoint(u"B").endpoint, u"");
  EXPECT_EQ(config.GetEndpoint(u"C").endpoint, u"");
}

TEST_F(CatalogueTest, AMissingNullOrUnknownMethodIsItemNotFound) {
  const std::string operations[] = {
      R"({"route": "/a"})",
      R"({"route": "/a", "method": null})",
      R"({"route": "/a", "method": "PATCH"})",
      R"({"route": "/a", "method": " GET"})",
      R"({"route": "/a", "method": "GET "})",
      R"({"route": "/a", "method": ""})",
      R"({})",
  };
  for (const std::string& operation : operations) {
    SCOPED_TRACE(operation);
    ExpectFailure(OperationFailure(operation), ErrorKind::kListError, u"Item not found");
  }
}

TEST_F(CatalogueTest, ValuesOfTheWrongKindAreInvalidCasts) {
  const std::string files[] = {
      // "ENDPOINTS" that is no object
      R"({"ENDPOINTS": []})",
      R"({"ENDPOINTS": "text"})",
      R"({"ENDPOINTS": 1})",
      R"({"ENDPOINTS": 1.5})",
      R"({"ENDPOINTS": true})",
      // an operation that is no object
      R"({"ENDPOINTS": {"OP": null}})",
      R"({"ENDPOINTS": {"OP": "GET"}})",
      R"({"ENDPOINTS": {"OP": 1}})",
      R"({"ENDPOINTS": {"OP": []}})",
      R"({"ENDPOINTS": {"OP": false}})",
      // a route or method that is no text
      R"({"ENDPOINTS": {"OP": {"route": 1, "method": "GET"}}})",
      R"({"ENDPOINTS": {"OP": {"route": true, "method": "GET"}}})",
      R"({"ENDPOINTS": {"OP": {"route": ["/a"], "method": "GET"}}})",
      R"({"ENDPOINTS": {"OP": {"route": {}, "method": "GET"}}})",
      R"({"ENDPOINTS": {"OP": {"route": "/a", "method": 1}}})",
      R"({"ENDPOINTS": {"OP": {"route": "/a", "method": 1.0}}})",
      R"({"ENDPOINTS": {"OP": {"route": "/a", "method": false}}})",
      R"({"ENDPOINTS": {"OP": {"route": "/a", "method": ["GET"]}}})",
      R"({"ENDPOINTS": {"OP": {"route": "/a", "method": {}}}})",
      // a bad operation after good ones
      R"({"ENDPOINTS": {"A": {"route": "/a", "method": "GET"}, "OP": 2}})",
  };
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    ExpectFailure(LoadFailure(file), ErrorKind::kInvalidCast, u"Invalid class typecast");
  }
}

TEST_F(CatalogueTest, AnOperationWithoutAValueFailsTheLoad) {
  ExpectFailure(LoadFailure(R"({"ENDPOINTS": {"OP":}})"), ErrorKind::kListError, u"Item not found");
  ExpectFailure(LoadFailure(R"({"ENDPOINTS": {"A": {"route": "/a", "method": "GET"}, "OP":,}})"),
                ErrorKind::kListError, u"Item not found");
}

TEST_F(CatalogueTest, WithoutEndpointsTheCatalogueIsEmpty) {
  for (const std::string json : {"", "{}", R"({"OTHER": {"A": {"method": "GET"}}})",
                                 R"({"ENDPOINTS": {}})", "{\"ENDPOINTS\":{}}\r\n\r\n"}) {
    SCOPED_TRACE(json);
    const Config config = Load(json);
    EXPECT_EQ(config.Count(), 0u);
    ExpectFailure(FailureOf([&] { config.GetEndpoint(u"AUTHORIZE"); }), ErrorKind::kPlain,
                  u"Problem in endpoint");
  }
}

TEST_F(CatalogueTest, ANullOrValuelessEndpointsMemberGivesAnEmptyCatalogue) {
  for (const std::string json : {R"({"ENDPOINTS": null})", R"({"ENDPOINTS":})"}) {
    SCOPED_TRACE(json);
    EXPECT_EQ(Load(json).Count(), 0u);
  }
}

TEST_F(CatalogueTest, TextWithoutARootObjectFailsTheLoad) {
  for (const std::string json : {"\r\n", "\n\n", "   ", "[]", "[1]", "\"x\"", "1", "true", "null",
                                 "<html>", "Service unavailable"}) {
    SCOPED_TRACE(testing::PrintToString(json));
    const Error error = LoadFailure(json);
    EXPECT_EQ(error.Kind(), ErrorKind::kPlain);
    EXPECT_FALSE(error.Message().empty());
  }
}

TEST_F(CatalogueTest, ParseErrorsPassOn) {
  const Error error = LoadFailure("{\"ENDPOINTS\": {\"A\" {}}}");
  EXPECT_EQ(Utf8(error.Message()), "Expected :. (Line: 1 Col: 20)");
}

TEST_F(CatalogueTest, ByteOrderMarksAndUtf16WithoutAMark) {
  const std::string json = R"({"ENDPOINTS":{"A":{"route":"/caf)"
                           "\xC3\xA9"
                           R"(","method":"GET"}}})";
  std::string le = "\xFF\xFE", be = "\xFE\xFF", leBare, beBare;
  for (const char16_t c : Utf8ToText(json)) {
    const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    le += {lo, hi};
    be += {hi, lo};
    leBare += {lo, hi};
    beBare += {hi, lo};
  }
  const std::u16string route = u"/caf\u00E9";
  EXPECT_EQ(Config(Write("\xEF\xBB\xBF" + json)).GetEndpoint(u"A").endpoint, route);
  EXPECT_EQ(Config(Write(le)).GetEndpoint(u"A").endpoint, route);
  EXPECT_EQ(Config(Write(be)).GetEndpoint(u"A").endpoint, route);
  // Without a mark the bytes are ANSI text, which ends at the first zero byte: "{" alone for
  // little-endian, nothing at all for big-endian.
  const Error error = FailureOf([&] { Config config(Write(leBare)); });
  EXPECT_EQ(Utf8(error.Message()), "Unexpected end of input. (Line: 1 Col: 1)");
  EXPECT_EQ(Config(Write(beBare)).Count(), 0u);
}

TEST_F(CatalogueTest, AnsiFilesUseTheAnsiCodePage) {
  if (platform::AnsiCodePage() != 1252)
    GTEST_SKIP() << "ANSI code page " << platform::AnsiCodePage();
  const Config config = Load("{\"ENDPOINTS\":{\"A\":{\"route\":\"/caf\xE9\",\"method\":\"GET\"}}}");
  EXPECT_EQ(config.GetEndpoint(u"A").endpoint, u"/caf\u00E9");
}

TEST_F(CatalogueTest, AMissingFileGivesTheFullPathAndTheSystemMessage) {
  test::ScopedCurrentDir cwd(dir_.Path());
  const Error error = FailureOf([] { Config config(u"missing.json"); });
  EXPECT_EQ(error.Kind(), ErrorKind::kFileOpen);
  EXPECT_EQ(error.Code(), 2);  // ENOENT and ERROR_FILE_NOT_FOUND alike
  EXPECT_EQ(Utf8(error.Message()),
            Utf8(u"Cannot open file \"" + (dir_ / "missing.json").u16string() + u"\". " +
                 platform::SystemErrorMessage(2)));
}

TEST_F(CatalogueTest, ARelativePathResolvesAgainstTheCurrentDirectory) {
  Write(R"({"ENDPOINTS":{"A":{"route":"/a","method":"GET"}}})", "relative.json");
  test::ScopedCurrentDir cwd(dir_.Path());
  const Config config(u"relative.json");
  EXPECT_EQ(config.FileName(), u"relative.json");
  EXPECT_EQ(config.Count(), 1u);
}

TEST_F(CatalogueTest, AFileHeldOpenForWritingCannotBeLoaded) {
  const std::u16string path = Write(R"({"ENDPOINTS":{}})");
  test::FileHold hold(dir_ / "endpoints.json");
  ASSERT_TRUE(hold.Held());
  const Error error = FailureOf([&] { Config config(path); });
  EXPECT_EQ(error.Kind(), ErrorKind::kFileOpen);
  EXPECT_NE(error.Code(), 0);
  EXPECT_EQ(Utf8(error.Message()), Utf8(u"Cannot open file \"" + path + u"\". " +
                                        platform::SystemErrorMessage(error.Code())));
}

TEST_F(CatalogueTest, OtherReadersMayHoldTheFile) {
  const std::u16string path = Write(R"({"ENDPOINTS":{"A":{"route":"/a","method":"GET"}}})");
  const auto reader = platform::File::OpenRead(path);
  EXPECT_EQ(Config(path).Count(), 1u);
}

}  // namespace
}  // namespace tessora
