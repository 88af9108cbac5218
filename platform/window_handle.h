#pragma once
// A window handle as the portable code sees it: an opaque number, 0 for none.
#include <cstdint>

namespace zyp::platform {

using WindowHandle = std::uintptr_t;

}  // namespace zyp::platform
