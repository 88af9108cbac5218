#pragma once
// Cuts a raw command line into argument texts, the way this program's
// callers have always quoted it: blanks are code units 1 to 32, double quotes
// join stretches that hold blanks, and there is no escape character.
#include <string>
#include <string_view>
#include <vector>

namespace zyp::intake {

// One argument as it stands in the raw text, quotes and all.
struct ArgumentSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::u16string text;  // as split: quotes dropped
};

// Every argument of the raw text up to its first NUL, the program's own and
// empty ones included, where it stands.
std::vector<ArgumentSpan> SplitArgumentSpans(std::u16string_view raw);

class CommandLine {
 public:
  explicit CommandLine(std::u16string_view raw);

  // Arguments after the program's own, up to the first empty one.
  std::size_t Count() const { return arguments_.size(); }
  // Argument 1 is the first after the program; past Count, empty text.
  std::u16string Argument(std::size_t index) const;

 private:
  std::vector<std::u16string> arguments_;
};

}  // namespace zyp::intake
