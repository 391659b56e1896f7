// The platform's readings of a stored string or real as a bool or an integer.
#include "emulation/defaults/string_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <span>

namespace shelvo::platform {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TEST(StringValues, BoolAndIntegerReadings) {
  struct Row {
    const char* text;
    bool asBool;
    std::int64_t asInteger;
  };
  const Row rows[] = {
      {"", false, 0},    {"YES", true, 0},  {"yes", true, 0},    {"true", true, 0},
      {"T", true, 0},    {"no", false, 0},  {"false", false, 0}, {"  \t\n42abc", true, 42},
      {"+007", true, 7}, {"-0", false, 0},  {"000", false, 0},   {"00y", true, 0},
      {"-3", true, -3},  {"- 3", false, 0}, {"0x10", false, 0},
  };
  const Row extremes[] = {
      {"9223372036854775807", true, kMax},
      {"9223372036854775808", true, kMax},
      {"-9223372036854775808", true, kMin},
      {"-99999999999999999999", true, kMin},
  };
  for (std::span<const Row> table : {std::span<const Row>(rows), std::span<const Row>(extremes)}) {
    for (const auto& row : table) {
      EXPECT_EQ(stringBoolValue(row.text), row.asBool) << '"' << row.text << '"';
      EXPECT_EQ(stringIntegerValue(row.text), row.asInteger) << '"' << row.text << '"';
    }
  }
}

TEST(StringValues, RealsTruncateTowardZeroAndSaturate) {
  const std::pair<double, std::int64_t> rows[] = {
      {2.9, 2},      {-2.9, -2},     {-0.5, 0},      {std::nan(""), 0},
      {1e300, kMax}, {-1e300, kMin}, {9.3e18, kMax}, {-9.3e18, kMin},
  };
  for (const auto& [value, integer] : rows) EXPECT_EQ(truncateToInteger(value), integer) << value;
}

}  // namespace
}  // namespace shelvo::platform
