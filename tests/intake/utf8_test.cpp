#include "intake/utf8.h"

#include <gtest/gtest.h>

namespace zyp::intake {
namespace {

TEST(Utf8, EncodesEveryCodeUnitAndReplacesUnpairedSurrogates) {
  const struct {
    std::u16string text;
    std::string bytes;
  } cases[] = {
      {u"", ""},
      {u"ADDURL:abc", "ADDURL:abc"},
      {u"\u00e9", "\xC3\xA9"},
      {u"\u20ac", "\xE2\x82\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::u16string(1, char16_t(0xD800)), "\xEF\xBF\xBD"},
      {std::u16string(1, char16_t(0xDC00)), "\xEF\xBF\xBD"},
      {std::u16string{u'a', char16_t(0xD83D), u'b'},
       "a\xEF\xBF\xBD"
       "b"},
      {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {std::u16string(1, u'\0'), std::string(1, '\0')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    EXPECT_EQ(ToUtf8(c.text), c.bytes);
  }
}

TEST(Utf8, DecodesWellFormedTextAndReplacesEveryBadByte) {
  const struct {
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"abc", u"abc"},
      {"\xC3\xA9t\xC3\xA9", u"\u00e9t\u00e9"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"a\xFF"
       "b",
       u"a\ufffd"
       "b"},
      {"\xC3", u"\ufffd"},                      // cut short at the end
      {"\xC0\x80", u"\ufffd\ufffd"},            // overlong
      {"\xED\xA0\x80", u"\ufffd\ufffd\ufffd"},  // an encoded surrogate
      {"\xE2\x82"
       "x",
       u"\ufffd\ufffd"
       "x"},  // cut short in the middle
  };
  for (const auto& c : cases) EXPECT_EQ(FromUtf8(c.bytes), c.text) << c.bytes;
}

}  // namespace
}  // namespace zyp::intake
