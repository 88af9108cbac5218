#include "intake/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace zyp::intake {
namespace {

struct SplitCase {
  const char* name;
  std::u16string raw;
  std::vector<std::u16string> arguments;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class SplitCommandLine : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, CutsArgumentsAsCallersQuoteThem) {
  const SplitCase& c = GetParam();
  const CommandLine line(c.raw);
  ASSERT_EQ(line.Count(), c.arguments.size());
  for (std::size_t i = 0; i < c.arguments.size(); ++i) EXPECT_EQ(line.Argument(i + 1), c.arguments[i]) << i;
  EXPECT_EQ(line.Argument(c.arguments.size() + 1), u"");
  EXPECT_EQ(line.Argument(0), u"");
}

const SplitCase kCases[] = {
    {"QuotedStretchesJoin", u"prog a\"b c\"d", {u"ab cd"}},
    {"QuotedProgramPathIsSkipped", u"\"C:\\Program Files\\ZYP\\z.exe\" START", {u"START"}},
    {"LonePairsBetweenArgumentsAreSkipped", u"prog \"\" a \"\" b \"\"", {u"a", u"b"}},
    {"RepeatedPairsAreSkipped", u"prog \"\"\"\"x", {u"x"}},
    {"PairBeforeTextIsSkipped", u"prog a \"\"b", {u"a", u"b"}},
    {"QuotedBlankIsAnArgument", u"prog a \" \" b", {u"a", u" ", u"b"}},
    {"AllCodeUnitsUpTo32AreBlanks",
     std::u16string(u"prog\ta\x01"
                    u"b\x1f"
                    u"c  d\r\ne"),
     {u"a", u"b", u"c", u"d", u"e"}},
    {"EmptyCommandLine", u"", {}},
    {"OnlyTheProgram", u"prog   ", {}},
    {"NoEscapeCharacter", u"prog a\\b\\\"c\"", {u"a\\b\\c"}},
    {"OpenQuoteRunsToTheEnd", u"prog a \" b c", {u"a", u" b c"}},
    {"TrailingQuoteEndsTheCount", u"prog a \"", {u"a"}},
    {"EmptyArgumentStopsTheCount", u"prog a \" b", {u"a", u" b"}},
    {"QuoteAtArgumentEnd", u"prog a\"", {u"a"}},
    {"StartWithQuotedBlank", u"prog \"START \"", {u"START "}},
    {"TextEndsAtNul", std::u16string(u"prog a\0b", 8), {u"a"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, SplitCommandLine, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zyp::intake
