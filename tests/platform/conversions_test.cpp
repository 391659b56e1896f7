#include "platform/defaults/conversions.h"

#include <gtest/gtest.h>

#include "platform/plist/plist.h"

namespace shelvo::platform {
namespace {

Plist makeReal(double value) {
  return Plist(plist_new_real(value));
}

TEST(Conversions, BoolAndIntegerReadingsOfEveryStoredType) {
  struct Row {
    const char* name;
    Plist value;
    bool asBool;
    std::int64_t asInteger;
  };
  Row rows[] = {
      {"missing", nullptr, false, 0},
      {"true", makeBool(true), true, 1},
      {"false", makeBool(false), false, 0},
      {"integer 7", makeInteger(7), true, 7},
      {"integer 0", makeInteger(0), false, 0},
      {"integer -2", makeInteger(-2), true, -2},
      {"real 2.9", makeReal(2.9), true, 2},
      {"real -0.5", makeReal(-0.5), true, 0},
      {"real 0", makeReal(0.0), false, 0},
      // Strings are read as the emulation reads them (tests/emulation has the rows).
      {"string YES", makeString("YES"), true, 0},
      {"string 12abc", makeString("12abc"), true, 12},
      {"data", makeData("1"), false, 0},
      {"array", makeStringArray({"1"}), false, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(boolFromPlist(row.value.get()), row.asBool) << row.name;
    EXPECT_EQ(integerFromPlist(row.value.get()), row.asInteger) << row.name;
  }
}

TEST(Conversions, StringArraysMustHoldOnlyStrings) {
  EXPECT_EQ(stringArrayFromPlist(makeStringArray({"a", "b"}).get()),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(stringArrayFromPlist(makeStringArray({}).get()), std::vector<std::string>{});
  EXPECT_FALSE(stringArrayFromPlist(makeString("com.example.app").get()));
  Plist mixed = makeStringArray({"a"});
  plist_array_append_item(mixed.get(), plist_new_uint(1));
  EXPECT_FALSE(stringArrayFromPlist(mixed.get()));
  EXPECT_FALSE(stringArrayFromPlist(nullptr));
}

}  // namespace
}  // namespace shelvo::platform
