#pragma once
// Which names may be opened as parameter files. The first argument and a
// "paramfile=" path come from web pages as often as from integrations: only
// a full path on a drive letter is ever opened, so that no name reaches the
// network (\\host\share), the device namespace (\\.\, \\?\) or a device
// (CON, NUL, COM1).
#include <cstdint>
#include <string_view>

namespace zyp::intake {

// A larger file is refused unread.
inline constexpr std::uint64_t kMaxParameterFileSize = std::uint64_t{64} << 20;

// A drive letter, a colon and a "\" or "/", with a last part that does not
// name a device.
bool IsParameterFilePath(std::u16string_view path);

}  // namespace zyp::intake
