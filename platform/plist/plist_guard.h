#pragma once

#include <cstddef>
#include <string_view>

#include "base/result.h"

namespace shelvo::platform {

// What a property list from an untrusted place may hold. libplist 2.2 parses recursively, in
// time quadratic in the depth, and copies a shared object once per reference, so all three are
// bounded before it sees the bytes.
struct PlistLimits {
  std::size_t maxDepth = 256;
  std::size_t maxObjects = 100'000;  // after shared references are expanded
};

// Checks the shape of binary ("bplist00") or XML property-list bytes without building them:
// a malformed binary list, a cycle, or a list deeper or larger than the limits is refused.
// Bytes that are neither kind pass; the parser refuses them itself.
Status checkPlistShape(std::string_view bytes, const PlistLimits& limits = {});

}  // namespace shelvo::platform
