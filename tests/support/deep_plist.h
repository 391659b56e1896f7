#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace shelvo::test {

// A binary property list of arrays only: arrays[i] lists the objects array i refers to (at most
// 14 each); object 0 is the top.
inline std::string binaryPlistOfArrays(const std::vector<std::vector<std::uint32_t>>& arrays) {
  auto appendBigEndian = [](std::string& out, std::uint64_t value, int width) {
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
      out.push_back(static_cast<char>((value >> shift) & 0xFF));
  };
  constexpr int kReferenceSize = 4;
  constexpr int kOffsetSize = 4;
  std::string out = "bplist00";
  std::string offsets;
  for (const auto& children : arrays) {
    appendBigEndian(offsets, out.size(), kOffsetSize);
    out.push_back(static_cast<char>(0xA0 | children.size()));
    for (auto child : children) appendBigEndian(out, child, kReferenceSize);
  }
  std::uint64_t tableOffset = out.size();
  out += offsets;
  out.append(6, '\0');
  out.push_back(static_cast<char>(kOffsetSize));
  out.push_back(static_cast<char>(kReferenceSize));
  appendBigEndian(out, arrays.size(), 8);
  appendBigEndian(out, 0, 8);
  appendBigEndian(out, tableOffset, 8);
  return out;
}

// A binary property list of depth arrays, each holding the next: small on disk, and the input
// that overflows a recursive parser's stack.
inline std::string deepBinaryPlist(std::size_t depth) {
  std::vector<std::vector<std::uint32_t>> arrays(depth + 1);  // the innermost one empty
  for (std::uint32_t i = 0; i < depth; ++i) arrays[i] = {i + 1};
  return binaryPlistOfArrays(arrays);
}

}  // namespace shelvo::test
