#pragma once

#include <cstddef>
#include <string>

namespace shelvo::test {

// A binary property list of depth arrays, each holding the next: small on disk, and the input
// that overflows a recursive parser's stack.
std::string deepBinaryPlist(std::size_t depth);

}  // namespace shelvo::test
