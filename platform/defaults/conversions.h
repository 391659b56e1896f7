#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shelvo::platform {

// The platform's user-defaults conversions: what boolForKey: and integerForKey: make of a
// stored value of any type. A missing value (null) reads as false and 0.
bool boolFromPlist(plist_t value);
std::int64_t integerFromPlist(plist_t value);
// Only an array whose every element is a string counts.
std::optional<std::vector<std::string>> stringArrayFromPlist(plist_t value);

}  // namespace shelvo::platform
