#pragma once
// The environment variables through which tests steer the companions.
#include <cstdint>
#include <string>
#include <string_view>

namespace zyp::companions {

// The variable's value; empty when it is not set.
std::u16string EnvironmentText(std::u16string_view name);

// The variable's value as a decimal number; the fallback when it is not set
// or not a number.
std::uint32_t EnvironmentNumber(std::u16string_view name, std::uint32_t fallback);

}  // namespace zyp::companions
