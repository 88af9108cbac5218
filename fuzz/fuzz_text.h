#pragma once
// Fuzzer input read as UTF-16LE code units; an odd last byte is dropped.
#include <cstddef>
#include <cstdint>
#include <string>

namespace zyp::fuzz {

inline std::u16string Utf16FromBytes(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  return text;
}

}  // namespace zyp::fuzz
