#include "tests/support/deep_plist.h"

#include <cstdint>

namespace shelvo::test {
namespace {

void appendBigEndian(std::string& out, std::uint64_t value, int width) {
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

}  // namespace

std::string deepBinaryPlist(std::size_t depth) {
  constexpr int kReferenceSize = 4;
  constexpr int kOffsetSize = 4;
  std::string out = "bplist00";
  std::size_t objects = depth + 1;
  std::string offsets;
  for (std::size_t i = 0; i < objects; ++i) {
    appendBigEndian(offsets, out.size(), kOffsetSize);
    if (i + 1 < objects) {
      out.push_back(static_cast<char>(0xA1));  // an array of one: the next object
      appendBigEndian(out, i + 1, kReferenceSize);
    } else {
      out.push_back(static_cast<char>(0xA0));  // the innermost, empty
    }
  }
  std::uint64_t tableOffset = out.size();
  out += offsets;
  out.append(6, '\0');
  out.push_back(static_cast<char>(kOffsetSize));
  out.push_back(static_cast<char>(kReferenceSize));
  appendBigEndian(out, objects, 8);
  appendBigEndian(out, 0, 8);
  appendBigEndian(out, tableOffset, 8);
  return out;
}

}  // namespace shelvo::test
