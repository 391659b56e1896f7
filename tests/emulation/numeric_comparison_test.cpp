// The platform's numeric string comparison, by which app versions are ordered.
#include <gtest/gtest.h>

#include "emulation/text/numeric_comparison.h"
#include "emulation/text/unicode_folding.h"

namespace shelvo::platform {
namespace {

constexpr auto A = ComparisonResult::Ascending;
constexpr auto S = ComparisonResult::Same;
constexpr auto D = ComparisonResult::Descending;

struct ComparisonRow {
  const char* a;
  const char* b;
  ComparisonResult result;
};

const ComparisonRow kShortRows[] = {
    {"1.01", "1.1", S},  {"1.0", "1", D},    {"1", "1.0", A},      {"1.0", "1.00", S},
    {"1.0.0", "1.0", D}, {"1.10", "1.9", D}, {"0.9", "0.10", A},   {"2.0.1", "2.0", D},
    {"1.0a", "1.0b", A}, {"10", "9", D},     {"10.0", "9.99", D},  {"", "", S},
    {"", "0", A},        {"0", "", D},       {"1.2b", "1.2", D},   {"1.2", "1.2.", A},
    {"01", "1", S},      {"0", "00", S},     {"v1.2", "v1.10", A}, {"V1", "v1", A},
    {"a", "B", D},       {"a", "1", D},      {"1a", "1", D},       {"1a", "12", A},
    {"a10", "a9", D},    {"1.a", "1.1", D},  {"1.-1", "1.1", A},   {" 1", "1", A},
    {"-5", "-10", A},    {"1e5", "1e10", A}, {"\u0661", "2", D},   {"1", "\u0661", A},
    {"\u00E9", "f", A},  {"\u00E9", "e", D},
};

const ComparisonRow kLongRows[] = {
    {"1.2.3", "1.2.3.0", A},
    {"1.2.10", "1.2.9", D},
    {"1.2 beta", "1.2", D},
    {"1.2-beta", "1.2.1", A},
    {"1.0.0-rc.1", "1.0.0", D},
    {"build 2", "build 02", S},
    {"1.0 (123)", "1.0 (45)", D},
    {"2.0b1", "2.0a10", D},
    {"Version 10", "Version 9", D},
    {"18446744073709551615", "18446744073709551616", D},
    {"18446744073709551616", "0", S},
    {"18446744073709551617", "2", A},
    {"99999999999999999999", "10000000000000000000", A},
    {"\u0661\u0660", "\u0669", A},
    {"\uFF11\uFF10", "\uFF19", A},
    {"\u00E9", "e\u0301", S},
    {"caf\u00E9 2", "cafe\u0301 10", A},
    {"\u2126", "\u03A9", S},
    {"\u212B", "\u00C5", S},
    {"\U0001F600", "\uFFFD", D},
    {"1.0\u00E9", "1.0f", A},
};

TEST(NumericComparison, OrdersVersionsAsThePlatformDoes) {
  std::vector<ComparisonRow> rows(std::begin(kShortRows), std::end(kShortRows));
  rows.insert(rows.end(), std::begin(kLongRows), std::end(kLongRows));
  for (const auto& row : rows) {
    EXPECT_EQ(compareNumerically(row.a, row.b), row.result) << row.a << " vs " << row.b;
    auto reversed = static_cast<ComparisonResult>(-static_cast<int>(row.result));
    EXPECT_EQ(compareNumerically(row.b, row.a), reversed)
        << "antisymmetry: " << row.b << " vs " << row.a;
  }
}

// Decoding, clusters and canonical decomposition, the steps of the platform's numeric
// comparison of non-ASCII text.
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
