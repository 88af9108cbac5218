#include "tests/docs/guide_examples.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace zyp::docs {
namespace {

std::vector<std::string> Texts(const Cell& cell) {
  std::vector<std::string> texts;
  for (const Token& token : cell) texts.push_back((token.code ? "code:" : "word:") + token.text);
  return texts;
}

TEST(ParseCell, SplitsCodeSpansParenthesesAndWords) {
  EXPECT_EQ(Texts(ParseCell(" `a b` `c\\|d` START (no file) x ")),
            (std::vector<std::string>{"code:a b", "code:c|d", "word:START", "word:(no file)", "word:x"}));
  EXPECT_EQ(Texts(ParseCell("``")), std::vector<std::string>{"code:"});
  EXPECT_TRUE(ParseCell("   ").empty());
  EXPECT_THROW(ParseCell("`open"), std::runtime_error);
}

TEST(ReadGuideExamples, TakesTablesAndFencedBlocksAfterTheirMarkers) {
  const auto examples = ReadGuideExamples(
      "# Guide\r\n"
      "| not | an example |\n|---|---|\n| a | b |\n"
      "<!-- example: table -->\n"
      "| in | out |\n|---|---|\n| `a\\|b` | `c` |\n| `d` | (none) |\n\nText.\n"
      "<!-- example: block -->\n```\nline one\n\nline: `two`\n```\n");
  ASSERT_EQ(examples.size(), 2u);
  EXPECT_EQ(examples[0].name, "table");
  EXPECT_EQ(examples[0].line, 5);
  ASSERT_EQ(examples[0].rows.size(), 2u);
  EXPECT_EQ(examples[0].rows[0].line, 8);
  ASSERT_EQ(examples[0].rows[0].cells.size(), 2u);
  EXPECT_EQ(Texts(examples[0].rows[0].cells[0]), std::vector<std::string>{"code:a|b"});
  EXPECT_EQ(Texts(examples[0].rows[1].cells[1]), std::vector<std::string>{"word:(none)"});
  EXPECT_EQ(examples[1].name, "block");
  EXPECT_EQ(examples[1].blockLines, (std::vector<std::string>{"line one", "", "line: `two`"}));
}

TEST(ReadGuideExamples, RefusesAMarkerWithNothingToCheck) {
  EXPECT_THROW(ReadGuideExamples("<!-- example: x -->\nText.\n"), std::runtime_error);
  EXPECT_THROW(ReadGuideExamples("<!-- example: x -->\n| a |\n| b |\n"), std::runtime_error);
  EXPECT_THROW(ReadGuideExamples("<!-- example: x -->\n```\nopen\n"), std::runtime_error);
}

}  // namespace
}  // namespace zyp::docs
