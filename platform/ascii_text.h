#pragma once
// Text rules the modules share: comparisons that fold the ASCII letters A to
// Z onto a to z and nothing else, and trimming of blanks and controls.
#include <string_view>

namespace zyp {

constexpr char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

constexpr bool AsciiEqualIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// True when text begins with prefix, letters A to Z folded.
constexpr bool AsciiStartsWithIgnoreCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && AsciiEqualIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// Removes every code unit up to U+0020 (the blank and the control
// characters) from both ends; inner ones stay.
constexpr std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && text.front() <= u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() <= u' ') text.remove_suffix(1);
  return text;
}

}  // namespace zyp
