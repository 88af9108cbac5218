#include "tests/docs/guide_examples.h"

#include <stdexcept>

namespace zyp::docs {
namespace {

constexpr std::string_view kMarkerStart = "<!-- example: ";
constexpr std::string_view kMarkerEnd = " -->";

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The cells of "| a | b |", split at each "|" that no backslash escapes.
std::vector<std::string> SplitRow(std::string_view line) {
  line = Trim(line);
  if (line.starts_with('|')) line.remove_prefix(1);
  if (line.ends_with('|') && !line.ends_with("\\|")) line.remove_suffix(1);
  std::vector<std::string> cells(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '|') {
      cells.back() += "\\|";
      ++i;
    } else if (line[i] == '|') {
      cells.emplace_back();
    } else {
      cells.back() += line[i];
    }
  }
  return cells;
}

}  // namespace

Cell ParseCell(std::string_view raw) {
  std::string text;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == '|') continue;
    text += raw[i];
  }
  Cell cell;
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsBlank(text[i])) {
      ++i;
    } else if (text[i] == '`') {
      const std::size_t close = text.find('`', i + 1);
      if (close == std::string::npos) throw std::runtime_error("unclosed code span in \"" + text + "\"");
      cell.push_back({true, text.substr(i + 1, close - i - 1)});
      i = close + 1;
    } else if (text[i] == '(') {
      std::size_t close = text.find(')', i);
      if (close == std::string::npos) close = text.size() - 1;
      cell.push_back({false, text.substr(i, close - i + 1)});
      i = close + 1;
    } else {
      const std::size_t end = text.find_first_of(" \t`", i);
      const std::size_t stop = end == std::string::npos ? text.size() : end;
      cell.push_back({false, text.substr(i, stop - i)});
      i = stop;
    }
  }
  return cell;
}

std::vector<GuideExample> ReadGuideExamples(std::string_view markdown) {
  const std::vector<std::string> lines = Lines(markdown);
  std::vector<GuideExample> examples;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = Trim(lines[i]);
    if (!line.starts_with(kMarkerStart) || !line.ends_with(kMarkerEnd)) continue;
    GuideExample example;
    example.name = std::string(line.substr(kMarkerStart.size(), line.size() - kMarkerStart.size() - kMarkerEnd.size()));
    example.line = static_cast<int>(i + 1);
    const std::string where = "example \"" + example.name + "\" at line " + std::to_string(example.line);
    std::size_t next = i + 1;
    if (next < lines.size() && Trim(lines[next]).starts_with('|')) {
      // Header, separator, then rows up to the first line that is not a row.
      if (next + 1 >= lines.size() || !Trim(lines[next + 1]).starts_with("|---"))
        throw std::runtime_error(where + ": a table without its separator line");
      for (next += 2; next < lines.size() && Trim(lines[next]).starts_with('|'); ++next) {
        Row row{static_cast<int>(next + 1), {}};
        for (const std::string& cell : SplitRow(lines[next])) row.cells.push_back(ParseCell(cell));
        example.rows.push_back(std::move(row));
      }
    } else if (next < lines.size() && Trim(lines[next]).starts_with("```")) {
      for (++next; next < lines.size() && !Trim(lines[next]).starts_with("```"); ++next)
        example.blockLines.push_back(lines[next]);
      if (next == lines.size()) throw std::runtime_error(where + ": an unclosed fenced block");
    } else {
      throw std::runtime_error(where + ": neither a table nor a fenced block follows");
    }
    examples.push_back(std::move(example));
  }
  return examples;
}

}  // namespace zyp::docs
