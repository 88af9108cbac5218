#pragma once
// A control packet of the queue pipe as the bytes that travel, for tests
// that send one or compare against one.
#include <cstdint>

#include "tests/support/pattern_bytes.h"

namespace zyp::testing {

Bytes ControlBytes(std::uint32_t marker);

}  // namespace zyp::testing
