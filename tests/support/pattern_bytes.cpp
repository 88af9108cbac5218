#include "tests/support/pattern_bytes.h"

namespace zyp::testing {

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  // The step beside the prime shifts the pattern once per piece of a split
  // message, so two pieces never hold the same bytes.
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 31 + i / 65519);
  return bytes;
}

}  // namespace zyp::testing
