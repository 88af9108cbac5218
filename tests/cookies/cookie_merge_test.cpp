#include "cookies/cookie_merge.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_locale.h"

namespace zyp::cookies {
namespace {

using fakes::FakeLocale;

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

TEST(FetchToken, CutsAtTheFirstExactDelimiter) {
  struct {
    std::u16string source, delimiter, token, rest;
  } const cases[] = {
      {u"a=1; b=2", u";", u"a=1", u" b=2"},
      {u"a=1", u";", u"a=1", u""},
      {u";", u";", u"", u""},
      {u"", u";", u"", u""},
      {u"k==v", u"=", u"k", u"=v"},
      {u"\"x;y\"", u";", u"\"x", u"y\""},
      {u"aXbxc", u"x", u"aXb", u"c"},
      {u"a; b;; c", u"; ", u"a", u"b;; c"},
  };
  for (const auto& c : cases) {
    std::u16string_view source = c.source;
    EXPECT_EQ(FetchToken(source, c.delimiter), c.token) << Narrow(c.source);
    EXPECT_EQ(source, c.rest) << Narrow(c.source);
  }
}

TEST(MergeCookieList, FoldsRepeatedNamesIntoTheStoredLine) {
  struct {
    std::u16string list, line;
  } const cases[] = {
      {u"lang=en; theme = dark;size=10; LANG=de; flag; note=", u"lang=de; theme = dark; size=10"},
      {u"a=1;a=2", u"a=2"},
      {u"A=1; a=2", u"A=2"},
      {u"a=; a=2", u"a=2"},
      {u"a=1;b=2;", u"a=1; b=2"},
      {u"k==v", u"k==v"},
      {u"a=1; a=", u""},
      {u"a=1; b=2; a=", u"b=2"},
      {u"a=1; b=2; A=3; B=; b=4", u"a=3; b=4"},
      {u" ", u""},
      {u" ; ;;", u""},
      {u"=x", u""},
      {u"a", u""},
      // Quotes mean nothing: the ";" inside ends the value.
      {u"q=\"x;y\"; r=1", u"q=\"x; r=1"},
      {u"q=\"x; y=2\"", u"q=\"x; y=2\""},
      // Blanks inside a token stay, only its ends are trimmed.
      {u"  a b = c d  ;x=1", u"a b = c d; x=1"},
      {u"\u0001\u001F a\u007F=\tb c\u001F ;", u"a\u007F=\tb c"},
      {u"\u00A0n=v\u00A0", u"\u00A0n=v\u00A0"},
      {u"n=\u007F", u"n=\u007F"},
  };
  FakeLocale locale;
  for (const auto& c : cases) EXPECT_EQ(MergeCookieList(c.list, locale), c.line) << Narrow(c.list);
}

// A locale in which every name has the same case-insensitive key: the
// comparison alone must then decide.
class OneKeyLocale : public FakeLocale {
 public:
  std::string IgnoreCaseKey(const std::u16string&) override { return "same"; }
};

// A locale whose comparison ignores the soft hyphen, as real ones do: names
// it calls equal but that differ in length stay apart.
class SoftHyphenLocale : public FakeLocale {
 public:
  bool EqualIgnoreCase(const std::u16string& a, const std::u16string& b) override {
    return FakeLocale::EqualIgnoreCase(Strip(a), Strip(b));
  }
  std::string IgnoreCaseKey(const std::u16string& text) override { return FakeLocale::IgnoreCaseKey(Strip(text)); }

 private:
  static std::u16string Strip(std::u16string text) {
    std::erase(text, u'\u00AD');
    return text;
  }
};

TEST(MergeCookieList, MatchesByTheLocaleComparisonNotByTheKey) {
  OneKeyLocale oneKey;
  EXPECT_EQ(MergeCookieList(u"a=1; b=2; c=3; B=4; A=; d=5; C=6", oneKey), u"b=4; c=6; d=5");

  SoftHyphenLocale softHyphen;
  EXPECT_EQ(MergeCookieList(u"ab=1; a\u00ADb=2; AB=3; A\u00ADB=4; x\u00ADy=5; X\u00ADY=6", softHyphen),
            u"ab=3; a\u00ADb=4; x\u00ADy=6");
}

TEST(MergeCookieList, LooksUpEachNameWithoutScanningTheList) {
  std::u16string distinct;
  std::u16string caseVariants;
  const int count = 4096;  // 2^12: every letter-case variant of a 12-letter name
  for (int i = 0; i < count; ++i) {
    const std::string number = std::to_string(i);
    distinct += u"n" + std::u16string(number.begin(), number.end()) + u"=v; ";
    std::u16string name = u"abcdefghijkl";
    for (int bit = 0; bit < 12; ++bit)
      if (i & (1 << bit)) name[bit] = static_cast<char16_t>(name[bit] - 32);
    caseVariants += name + u"=" + std::u16string(number.begin(), number.end()) + u";";
  }
  FakeLocale locale;
  EXPECT_EQ(MergeCookieList(distinct, locale).size(), distinct.size() - 2);
  EXPECT_EQ(locale.comparisons, 0u);

  locale.comparisons = 0;
  EXPECT_EQ(MergeCookieList(caseVariants, locale), u"abcdefghijkl=4095");
  EXPECT_EQ(locale.comparisons, static_cast<std::size_t>(count - 1));
}

}  // namespace
}  // namespace zyp::cookies
