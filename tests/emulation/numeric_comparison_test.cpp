// The platform's numeric string comparison, by which app versions are ordered.
#include "emulation/text/numeric_comparison.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace shelvo::platform
