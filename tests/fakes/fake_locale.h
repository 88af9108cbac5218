#pragma once
// A user locale that folds only the ASCII letters and an ANSI code page like
// 1252 in which every character above U+00FF becomes "?". It counts its
// comparisons, so a test can tell how much work a lookup took.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ascii_text.h"
#include "platform/locale.h"

namespace zyp::fakes {

class FakeLocale : public platform::Locale {
 public:
  std::uint32_t ansiCodePage = 1252;
  std::size_t comparisons = 0;

  std::uint32_t AnsiCodePage() override { return ansiCodePage; }
  std::string ToCodePage(std::uint32_t, const std::u16string& text) override {
    std::string bytes;
    bytes.reserve(text.size());
    for (const char16_t c : text) bytes += c <= 0xFF ? static_cast<char>(c) : '?';
    return bytes;
  }
  std::u16string FromCodePage(std::uint32_t, const std::string& bytes) override {
    std::u16string text;
    text.reserve(bytes.size());
    for (const char b : bytes) text += static_cast<char16_t>(static_cast<unsigned char>(b));
    return text;
  }
  bool EqualIgnoreCase(const std::u16string& a, const std::u16string& b) override {
    ++comparisons;
    return AsciiEqualIgnoreCase(a, b);
  }
  std::string IgnoreCaseKey(const std::u16string& text) override {
    std::string key;
    key.reserve(text.size() * 2);
    for (const char16_t c : text) {
      const char16_t folded = AsciiLower(c);
      key += static_cast<char>(folded & 0xFF);
      key += static_cast<char>(folded >> 8);
    }
    return key;
  }
};

}  // namespace zyp::fakes
