#pragma once
// Comparisons that fold the ASCII letters A to Z onto a to z and nothing else.
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

}  // namespace zyp
