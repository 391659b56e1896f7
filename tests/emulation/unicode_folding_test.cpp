// Decoding, clusters and canonical decomposition, the steps of the platform's numeric
// comparison of non-ASCII text.
#include "emulation/text/unicode_folding.h"

#include <gtest/gtest.h>

namespace shelvo::platform {
namespace {

using Codes = std::vector<std::uint32_t>;

TEST(UnicodeFolding, EachInvalidByteDecodesToOneReplacementCharacter) {
  const std::pair<std::string, Codes> rows[] = {
      {"a\u00E9\u20AC\U0001F600", {'a', 0xE9, 0x20AC, 0x1F600}},
      {"\xFF"
       "a",
       {0xFFFD, 'a'}},
      {"\xE2\x82", {0xFFFD, 0xFFFD}},  // cut short at the end
      {"\xE2"
       "ab",
       {0xFFFD, 'a', 'b'}},
      {"\x80", {0xFFFD}},
      {"", {}},
  };
  for (const auto& [text, codes] : rows) EXPECT_EQ(decodeCodePoints(text), codes) << text;
}

TEST(UnicodeFolding, AClusterIsACharacterAndTheMarksThatExtendIt) {
  Codes text = {'e', 0x301, 0x20DD, 'f', 0x301};  // acute (Mn), enclosing circle (Me)
  EXPECT_EQ(clusterLength(text, 0), 3u);
  EXPECT_EQ(clusterLength(text, 3), 2u);
  EXPECT_EQ(clusterLength({'a', 'b'}, 0), 1u);
}

TEST(UnicodeFolding, DecompositionIsFullAndMarksAreReordered) {
  const std::pair<Codes, Codes> rows[] = {
      {{0xE9}, {'e', 0x301}},
      {{0x1E69}, {'s', 0x323, 0x307}},             // s with dot below and dot above, recursively
      {{'a', 0x307, 0x323}, {'a', 0x323, 0x307}},  // below (220) before above (230)
      {{0x212B}, {'A', 0x30A}},                    // a singleton, then its own decomposition
      {{0xAC01}, {0x1100, 0x1161, 0x11A8}},        // Hangul, by arithmetic
      {{0xAC00}, {0x1100, 0x1161}},
      {{'x'}, {'x'}},
  };
  for (const auto& [codes, decomposed] : rows) {
    EXPECT_EQ(canonicalDecomposition(codes.data(), codes.data() + codes.size()), decomposed)
        << codes[0];
  }
}

}  // namespace
}  // namespace shelvo::platform
