#pragma once
// Reads the examples of a markdown guide: a line "<!-- example: NAME -->"
// followed by a table or a fenced block. Table cells are split into tokens:
// each `code span` is one token taken literally, a phrase in parentheses is
// one word, and any other text splits at blanks into words.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zyp::docs {

struct Token {
  bool code = false;  // a code span, taken literally
  std::string text;
};

using Cell = std::vector<Token>;

struct Row {
  int line = 0;  // in the guide, from 1
  std::vector<Cell> cells;
};

struct GuideExample {
  std::string name;
  int line = 0;                         // of the marker, from 1
  std::vector<Row> rows;                // a table's rows, without its header
  std::vector<std::string> blockLines;  // a fenced block's lines
};

// Every example in the text, in order. Throws std::runtime_error naming the
// line when a marker is not followed by a table or a fenced block.
std::vector<GuideExample> ReadGuideExamples(std::string_view markdown);

// The tokens of one table cell; "\|" stands for "|".
Cell ParseCell(std::string_view cell);

}  // namespace zyp::docs
