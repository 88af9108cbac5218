#pragma once
// UTF-8 for the queue pipe and for parameter files. Text that is not well
// formed is never dropped: each unpaired surrogate, and each byte that does
// not start or continue a valid sequence, becomes U+FFFD.
#include <string>
#include <string_view>

namespace zyp::intake {

std::string ToUtf8(std::u16string_view text);
// Appends one code point (up to U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t c);
// Appends one code point (up to U+10FFFF) as UTF-16: a surrogate pair above U+FFFF.
void AppendUtf16(std::u16string& out, char32_t c);
std::u16string FromUtf8(std::string_view bytes);

}  // namespace zyp::intake
