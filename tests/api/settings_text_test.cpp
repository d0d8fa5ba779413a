// text.encoding: the values it takes, and host text in UTF-8 both ways on the thread that sets it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "api/host_text.h"
#include "api/settings.h"
#include "api/thread_settings.h"
#include "base/text.h"
#include "platform/library_entry.h"
#include "support/temp_dir.h"

namespace tessora {
namespace {

class TextEncodingTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LibraryStartup()); }
  void TearDown() override {
    for (char* buffer : buffers_)
      std::free(buffer);  // the host owns them; the test cleans up
    LibraryShutdown();
  }
  std::string Result(std::u16string_view text, HostEncoding encoding) {
    buffers_.push_back(NewResultBuffer(text, encoding));
    return buffers_.back();
  }

  std::vector<char*> buffers_;
  test::TempDir dir_;
  test::ScopedCurrentDir cwd_{dir_.Path()};
};

struct EncodingCase {
  const char16_t* given;
  const char16_t* stored;  // nullptr: refused
};

class TextEncodingValues : public TextEncodingTest,
                           public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(TextEncodingValues, AreNormalisedOrRefused) {
  ThreadSettings& settings = CurrentSettings();
  const std::u16string refused = SetOption(settings, u"text.encoding", GetParam().given);
  const SettingValue inForce = OptionInForce(&settings, *FindSettingKey(u"text.encoding"));
  if (GetParam().stored == nullptr) {
    EXPECT_EQ(refused, u"The setting \"text.encoding\" cannot be \"" +
                           std::u16string(GetParam().given) +
                           u"\": it takes \"ansi\" or \"utf-8\".");
    EXPECT_EQ(inForce.value, u"ansi");
    EXPECT_EQ(inForce.source, SettingSource::kDefault);
  } else {
    EXPECT_EQ(refused, u"");
    EXPECT_EQ(inForce.value, GetParam().stored);
    EXPECT_EQ(inForce.source, SettingSource::kHost);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextEncodingValues,
    ::testing::Values(EncodingCase{u"ansi", u"ansi"}, EncodingCase{u"ANSI", u"ansi"},
                      EncodingCase{u"utf-8", u"utf-8"}, EncodingCase{u"UTF-8", u"utf-8"},
                      EncodingCase{u"utf8", u"utf-8"}, EncodingCase{u"Utf8", u"utf-8"},
                      EncodingCase{u"", nullptr}, EncodingCase{u"utf-16", nullptr},
                      EncodingCase{u" utf-8", nullptr}, EncodingCase{u"utf-8 ", nullptr},
                      EncodingCase{u"latin1", nullptr}, EncodingCase{u"utf_8", nullptr},
                      EncodingCase{u"65001", nullptr}));

TEST_F(TextEncodingTest, TheDefaultIsAnsi) {
  EXPECT_EQ(HostEncodingOf(&CurrentSettings()), HostEncoding::kAnsi);
  EXPECT_EQ(HostEncodingOf(nullptr), HostEncoding::kAnsi);
}

TEST_F(TextEncodingTest, HoldsForTheThreadThatSetsIt) {
  ASSERT_EQ(SetOption(CurrentSettings(), u"text.encoding", u"utf-8"), u"");
  EXPECT_EQ(HostEncodingOf(&CurrentSettings()), HostEncoding::kUtf8);
  HostEncoding other = HostEncoding::kUtf8;
  std::thread([&] { other = HostEncodingOf(&CurrentSettings()); }).join();
  EXPECT_EQ(other, HostEncoding::kAnsi);
}

TEST_F(TextEncodingTest, TheEndpointFileCannotSetIt) {
  ApplyFileSettings({{u"text.encoding", u"utf-8"}});
  EXPECT_EQ(HostEncodingOf(&CurrentSettings()), HostEncoding::kAnsi);
}

struct Utf8InCase {
  const char* bytes;
  const char16_t* text;
};

class Utf8In : public TextEncodingTest, public ::testing::WithParamInterface<Utf8InCase> {};

TEST_P(Utf8In, BecomesTextWithReplacementsForInvalidSequences) {
  EXPECT_EQ(HostText(GetParam().bytes, HostEncoding::kUtf8), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Utf8In,
    ::testing::Values(Utf8InCase{"", u""}, Utf8InCase{"plain", u"plain"},
                      // Greek, CJK and a character outside the BMP.
                      Utf8InCase{"\xCE\x9D\xCE\xAF\xCE\xBA\xCE\xB7", u"\u039D\u03AF\u03BA\u03B7"},
                      Utf8InCase{"\xE5\xBC\xA0\xE4\xBC\x9F", u"\u5F20\u4F1F"},
                      Utf8InCase{"\xF0\x9F\x98\x80", u"\U0001F600"},
                      // A lone continuation byte, a cut-off sequence, an overlong "/", an encoded
                      // surrogate, a byte that never occurs in UTF-8.
                      Utf8InCase{"a\x80z", u"a\uFFFDz"}, Utf8InCase{"a\xE5\xBCz", u"a\uFFFDz"},
                      Utf8InCase{"\xC0\xAF", u"\uFFFD\uFFFD"},
                      Utf8InCase{"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                      Utf8InCase{"\xFF", u"\uFFFD"}));

TEST_F(TextEncodingTest, NullIsTheEmptyTextInUtf8Too) {
  EXPECT_EQ(HostText(nullptr, HostEncoding::kUtf8), u"");
}

TEST_F(TextEncodingTest, ResultsAreUtf8WithReplacementsForLoneSurrogates) {
  EXPECT_EQ(Result(u"\u039D\u03AF\u03BA\u03B7 \u5F20\u4F1F", HostEncoding::kUtf8),
            "\xCE\x9D\xCE\xAF\xCE\xBA\xCE\xB7 \xE5\xBC\xA0\xE4\xBC\x9F");
  EXPECT_EQ(Result(u"\U0001F600", HostEncoding::kUtf8), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Result(std::u16string(u"a\xD800z"), HostEncoding::kUtf8), "a\xEF\xBF\xBDz");
  EXPECT_EQ(Result(std::u16string(u"a\xDC00"), HostEncoding::kUtf8), "a\xEF\xBF\xBD");
  // U+0000 still ends what reaches the host.
  EXPECT_EQ(Result(std::u16string(u"ab\0cd", 5), HostEncoding::kUtf8), "ab");
}

}  // namespace
}  // namespace tessora
