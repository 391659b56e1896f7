#pragma once

#include <cstdint>
#include <string_view>

namespace shelvo::platform {

// NSString boolValue and integerValue: leading spaces, a sign, then digits (or Y, y, T, t for
// true); integers saturate.
bool stringBoolValue(std::string_view text);
std::int64_t stringIntegerValue(std::string_view text);
// A real number as an integer, truncated toward zero and saturated; NaN is 0.
std::int64_t truncateToInteger(double value);

}  // namespace shelvo::platform
