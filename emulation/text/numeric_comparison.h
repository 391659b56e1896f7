#pragma once

#include <string_view>

namespace shelvo::platform {

enum class ComparisonResult { Ascending = -1, Same = 0, Descending = 1 };

// The platform's string comparison with the numeric option alone: runs of ASCII digits compare
// by value (accumulated in 64 bits that wrap), other ASCII by code unit, and non-ASCII after
// canonical decomposition of the character and the marks that follow it. "1.10" orders after
// "1.9"; "1.01" and "1.1" are the same.
ComparisonResult compareNumerically(std::string_view receiver, std::string_view argument);

}  // namespace shelvo::platform
