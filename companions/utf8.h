#pragma once
// UTF-8, the encoding of everything on the queue manager's pipe.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zyp::companions {

// Ill-formed sequences become U+FFFD.
std::u16string FromUtf8(std::span<const std::uint8_t> bytes);
// Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);

}  // namespace zyp::companions
