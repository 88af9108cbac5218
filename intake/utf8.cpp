#include "intake/utf8.h"

#include <cstdint>

namespace zyp::intake {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

constexpr bool IsAscii(char c) { return static_cast<unsigned char>(c) < 0x80; }
constexpr bool IsAscii(char16_t c) { return c < 0x80; }

// Copies the run of ASCII that starts at from[at] onto the end of out, each
// unit as it is, and returns where the run ends. A list of addresses is
// almost all ASCII and may be 64 MiB: unit by unit through the general path
// it took most of a run's time.
template <typename To, typename From>
std::size_t AppendAsciiRun(To& out, From from, std::size_t at) {
  std::size_t end = at;
  while (end < from.size() && IsAscii(from[end])) ++end;
  const std::size_t size = out.size();
  out.resize(size + (end - at));
  for (std::size_t i = at; i < end; ++i) out[size + (i - at)] = static_cast<typename To::value_type>(from[i]);
  return end;
}

}  // namespace

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

bool IsWellFormedUtf16(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
      ++i;
    else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i]))
      return false;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    i = AppendAsciiRun(out, text, i);
    if (i == text.size()) break;
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

std::optional<char32_t> ReadUtf8(std::string_view bytes, std::size_t& at) {
  if (at >= bytes.size()) return std::nullopt;
  const auto lead = static_cast<std::uint8_t>(bytes[at]);
  if (lead < 0x80) {
    ++at;
    return lead;
  }
  // The lead byte narrows the range of the byte after it: so an overlong
  // form, a surrogate or a code point past U+10FFFF fails at the first byte
  // that makes it one.
  std::size_t length = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return std::nullopt;
  }
  ++at;
  for (std::size_t i = 1; i < length; ++i) {
    if (at >= bytes.size()) return std::nullopt;
    const auto next = static_cast<std::uint8_t>(bytes[at]);
    if (next < low || next > high) return std::nullopt;
    c = (c << 6) | (next & 0x3F);
    low = 0x80;
    high = 0xBF;
    ++at;
  }
  return c;
}

std::u16string FromUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    // Addresses and cookie lists are mostly ASCII: it takes no decoding.
    if (static_cast<std::uint8_t>(bytes[i]) < 0x80) {
      i = AppendAsciiRun(out, bytes, i);
      continue;
    }
    const std::size_t start = i;
    if (const std::optional<char32_t> c = ReadUtf8(bytes, i)) {
      AppendUtf16(out, *c);
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
      i = start + 1;  // resynchronise on the next byte
    }
  }
  return out;
}

}  // namespace zyp::intake
