#include "emulation/text/numeric_comparison.h"

#include <cstdint>
#include <vector>

#include "emulation/text/unicode_folding.h"

namespace shelvo::platform {
namespace {

bool isDigit(std::uint32_t c) {
  return c >= '0' && c <= '9';
}

ComparisonResult order(std::uint32_t a, std::uint32_t b) {
  return a < b ? ComparisonResult::Ascending : ComparisonResult::Descending;
}

// Reads the digit run at index, advancing it; the value wraps modulo 2^64 as the platform's does.
std::uint64_t readNumber(const std::vector<std::uint32_t>& text, std::size_t& index) {
  std::uint64_t value = 0;
  while (index < text.size() && isDigit(text[index])) {
    value = value * 10 + (text[index] - '0');
    ++index;
  }
  return value;
}

}  // namespace

ComparisonResult compareNumerically(std::string_view receiver, std::string_view argument) {
  const std::vector<std::uint32_t> a = decodeCodePoints(receiver);
  const std::vector<std::uint32_t> b = decodeCodePoints(argument);
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::uint64_t left = readNumber(a, i);
      std::uint64_t right = readNumber(b, j);
      if (left != right)
        return left < right ? ComparisonResult::Ascending : ComparisonResult::Descending;
      continue;
    }
    if (a[i] == b[j]) {
      ++i;
      ++j;
      continue;
    }
    if (a[i] < 0x80 && b[j] < 0x80) return order(a[i], b[j]);
    // Non-ASCII: compare the canonical decompositions of the two character clusters.
    std::size_t clusterA = clusterLength(a, i);
    std::size_t clusterB = clusterLength(b, j);
    auto foldedA = canonicalDecomposition(a.data() + i, a.data() + i + clusterA);
    auto foldedB = canonicalDecomposition(b.data() + j, b.data() + j + clusterB);
    std::size_t common = std::min(foldedA.size(), foldedB.size());
    for (std::size_t k = 0; k < common; ++k) {
      if (foldedA[k] != foldedB[k]) return order(foldedA[k], foldedB[k]);
    }
    if (foldedA.size() != foldedB.size()) {
      return foldedA.size() < foldedB.size() ? ComparisonResult::Ascending
                                             : ComparisonResult::Descending;
    }
    i += clusterA;
    j += clusterB;
  }
  if (i < a.size()) return ComparisonResult::Descending;
  if (j < b.size()) return ComparisonResult::Ascending;
  return ComparisonResult::Same;
}

}  // namespace shelvo::platform
