#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace shelvo::platform {

// Decodes UTF-8 into code points; an invalid byte stands for itself as U+FFFD.
std::vector<std::uint32_t> decodeCodePoints(std::string_view utf8);

// The cluster starting at index: the character and the marks that extend it (general
// categories Mn and Me). Returns its length in code points.
std::size_t clusterLength(const std::vector<std::uint32_t>& text, std::size_t index);

// Full canonical decomposition of a run of code points, marks put in canonical order: the form
// the platform compares non-ASCII characters in when no literal comparison is asked for.
std::vector<std::uint32_t> canonicalDecomposition(const std::uint32_t* begin,
                                                  const std::uint32_t* end);

}  // namespace shelvo::platform
