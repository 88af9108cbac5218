#pragma once
// Bytes that tests send and compare: a pattern that differs with the seed
// and does not repeat at the sizes where messages are split.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zyp::testing {

using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t size, std::uint8_t seed);

}  // namespace zyp::testing
