#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace shelvo::test {

// A binary property list of depth arrays, each holding the next: small on disk, and the input
// that overflows a recursive parser's stack.
std::string deepBinaryPlist(std::size_t depth);

// A binary property list of arrays only: arrays[i] lists the objects array i refers to (at most
// 14 each); object 0 is the top.
std::string binaryPlistOfArrays(const std::vector<std::vector<std::uint32_t>>& arrays);

}  // namespace shelvo::test
