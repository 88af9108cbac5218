#include "intake/command_line.h"

namespace zyp::intake {

namespace {

constexpr bool IsBlank(char16_t c) { return c >= 1 && c <= 32; }

// Reads one argument starting at pos, which it leaves behind the argument;
// false when the text has ended. begin is where the argument starts.
bool NextArgument(std::u16string_view text, std::size_t& pos, std::u16string& argument, std::size_t& begin) {
  const std::size_t end = text.size();
  for (;;) {
    while (pos < end && IsBlank(text[pos])) ++pos;
    if (pos + 1 < end && text[pos] == u'"' && text[pos + 1] == u'"') {
      pos += 2;  // a lone pair of quotes between arguments is no argument
      continue;
    }
    break;
  }
  if (pos >= end) return false;
  begin = pos;
  argument.clear();
  while (pos < end && !IsBlank(text[pos])) {
    if (text[pos] == u'"') {
      ++pos;
      while (pos < end && text[pos] != u'"') argument.push_back(text[pos++]);
      if (pos < end) ++pos;  // closing quote
    } else {
      argument.push_back(text[pos++]);
    }
  }
  return true;
}

// The text ends at its first NUL, as a C string would.
std::u16string_view UpToNul(std::u16string_view raw) { return raw.substr(0, raw.find(u'\0')); }

}  // namespace

std::vector<ArgumentSpan> SplitArgumentSpans(std::u16string_view raw) {
  raw = UpToNul(raw);
  std::vector<ArgumentSpan> spans;
  std::size_t pos = 0;
  ArgumentSpan span;
  while (NextArgument(raw, pos, span.text, span.begin)) {
    span.end = pos;
    spans.push_back(span);
  }
  return spans;
}

CommandLine::CommandLine(std::u16string_view raw) {
  raw = UpToNul(raw);
  std::size_t pos = 0;
  std::size_t begin = 0;
  std::u16string argument;
  if (!NextArgument(raw, pos, argument, begin)) return;  // argument 0: the program
  while (NextArgument(raw, pos, argument, begin)) {
    if (argument.empty()) break;  // the count stops at the first empty argument
    arguments_.push_back(argument);
  }
}

std::u16string CommandLine::Argument(std::size_t index) const {
  if (index == 0 || index > arguments_.size()) return {};
  return arguments_[index - 1];
}

}  // namespace zyp::intake
