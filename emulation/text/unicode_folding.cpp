#include "emulation/text/unicode_folding.h"

#include <algorithm>

namespace shelvo::platform {
namespace {

struct CanonicalDecomposition {
  std::uint32_t code;
  std::uint32_t first;
  std::uint32_t second;  // 0 for a singleton
};

struct CombiningClass {
  std::uint32_t code;
  int combiningClass;
};

#include "unicode_tables.inc"

// Hangul syllables decompose by arithmetic, not by table.
constexpr std::uint32_t kHangulFirst = 0xAC00;
constexpr std::uint32_t kHangulCount = 11172;
constexpr std::uint32_t kLeadingBase = 0x1100;
constexpr std::uint32_t kVowelBase = 0x1161;
constexpr std::uint32_t kTrailingBase = 0x11A7;
constexpr std::uint32_t kVowelCount = 21;
constexpr std::uint32_t kTrailingCount = 28;

int combiningClassOf(std::uint32_t code) {
  auto found =
      std::lower_bound(std::begin(kCombiningClasses), std::end(kCombiningClasses), code,
                       [](const CombiningClass& entry, std::uint32_t c) { return entry.code < c; });
  return found != std::end(kCombiningClasses) && found->code == code ? found->combiningClass : 0;
}

bool extendsCluster(std::uint32_t code) {
  return std::binary_search(std::begin(kClusterExtendingMarks), std::end(kClusterExtendingMarks),
                            code);
}

void decompose(std::uint32_t code, std::vector<std::uint32_t>& out) {
  if (code >= kHangulFirst && code < kHangulFirst + kHangulCount) {
    std::uint32_t index = code - kHangulFirst;
    out.push_back(kLeadingBase + index / (kVowelCount * kTrailingCount));
    out.push_back(kVowelBase + (index % (kVowelCount * kTrailingCount)) / kTrailingCount);
    if (index % kTrailingCount != 0) out.push_back(kTrailingBase + index % kTrailingCount);
    return;
  }
  auto found = std::lower_bound(
      std::begin(kCanonicalDecompositions), std::end(kCanonicalDecompositions), code,
      [](const CanonicalDecomposition& entry, std::uint32_t c) { return entry.code < c; });
  if (found == std::end(kCanonicalDecompositions) || found->code != code) {
    out.push_back(code);
    return;
  }
  decompose(found->first, out);
  if (found->second != 0) decompose(found->second, out);
}

}  // namespace

std::vector<std::uint32_t> decodeCodePoints(std::string_view utf8) {
  std::vector<std::uint32_t> codes;
  codes.reserve(utf8.size());
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  std::size_t size = utf8.size();
  for (std::size_t i = 0; i < size;) {
    unsigned char lead = p[i];
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 0;
    if (length == 0 || i + length > size) {
      codes.push_back(0xFFFD);
      ++i;
      continue;
    }
    std::uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
    bool valid = true;
    for (std::size_t k = 1; k < length; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (p[i + k] & 0x3F);
    }
    if (!valid) {
      codes.push_back(0xFFFD);
      ++i;
      continue;
    }
    codes.push_back(code);
    i += length;
  }
  return codes;
}

std::size_t clusterLength(const std::vector<std::uint32_t>& text, std::size_t index) {
  std::size_t end = index + 1;
  while (end < text.size() && extendsCluster(text[end])) ++end;
  return end - index;
}

std::vector<std::uint32_t> canonicalDecomposition(const std::uint32_t* begin,
                                                  const std::uint32_t* end) {
  std::vector<std::uint32_t> out;
  for (const std::uint32_t* code = begin; code != end; ++code) decompose(*code, out);
  // Canonical ordering: each run of marks sorted by combining class, stable.
  std::size_t start = 0;
  while (start < out.size()) {
    if (combiningClassOf(out[start]) == 0) {
      ++start;
      continue;
    }
    std::size_t stop = start;
    while (stop < out.size() && combiningClassOf(out[stop]) != 0) ++stop;
    std::stable_sort(
        out.begin() + static_cast<std::ptrdiff_t>(start),
        out.begin() + static_cast<std::ptrdiff_t>(stop),
        [](std::uint32_t a, std::uint32_t b) { return combiningClassOf(a) < combiningClassOf(b); });
    start = stop;
  }
  return out;
}

}  // namespace shelvo::platform
