#pragma once
// UTF-8 for the queue pipe and for parameter files. Text that is not well
// formed is never dropped: each unpaired surrogate, and each byte that does
// not start or continue a valid sequence, becomes U+FFFD.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zyp::intake {

std::string ToUtf8(std::u16string_view text);
// Appends one code point (up to U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t c);
// Appends one code point (up to U+10FFFF) as UTF-16: a surrogate pair above U+FFFF.
void AppendUtf16(std::u16string& out, char32_t c);

constexpr bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
// True when every surrogate stands in a pair: the text goes to UTF-8 and
// back unchanged.
bool IsWellFormedUtf16(std::u16string_view text);
std::u16string FromUtf8(std::string_view bytes);
// The code point whose well-formed UTF-8 starts at bytes[at] (no overlong
// form, no surrogate, nothing past U+10FFFF), with at moved past it; nothing
// when the bytes there are not one, with at on the first byte that cannot
// belong to it (or at the end).
std::optional<char32_t> ReadUtf8(std::string_view bytes, std::size_t& at);

}  // namespace zyp::intake
