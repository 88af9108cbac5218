#pragma once
// UTF-8 for the queue pipe and for parameter files. Text that is not well
// formed is never dropped: each unpaired surrogate, and each byte that does
// not start or continue a valid sequence, becomes U+FFFD.
#include <string>
#include <string_view>

namespace zyp::intake {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view bytes);

}  // namespace zyp::intake
