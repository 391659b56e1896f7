#include "platform/defaults/conversions.h"

#include <cmath>
#include <limits>

#include "platform/plist/plist.h"

namespace shelvo::platform {
namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view skipSpaces(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  return text;
}

std::int64_t truncateToInteger(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
  if (value <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

}  // namespace

bool stringBoolValue(std::string_view text) {
  text = skipSpaces(text);
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  while (!text.empty() && text.front() == '0') text.remove_prefix(1);
  if (text.empty()) return false;
  char first = text.front();
  return first == 'Y' || first == 'y' || first == 'T' || first == 't' ||
         (first >= '1' && first <= '9');
}

std::int64_t stringIntegerValue(std::string_view text) {
  text = skipSpaces(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Accumulate as a negative number so INT64_MIN fits; saturate on overflow.
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t value = 0;
  bool saturated = false;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    int digit = c - '0';
    if (value < (kMin + digit) / 10) {
      saturated = true;
      break;
    }
    value = value * 10 - digit;
  }
  if (saturated) return negative ? kMin : std::numeric_limits<std::int64_t>::max();
  if (negative) return value;
  return value == kMin ? std::numeric_limits<std::int64_t>::max() : -value;
}

bool boolFromPlist(plist_t value) {
  if (auto b = boolValue(value)) return *b;
  if (auto i = integerValue(value)) return *i != 0;
  if (auto r = realValue(value)) return *r != 0.0;
  if (auto s = stringValue(value)) return stringBoolValue(*s);
  return false;
}

std::int64_t integerFromPlist(plist_t value) {
  if (auto b = boolValue(value)) return *b ? 1 : 0;
  if (auto i = integerValue(value)) return *i;
  if (auto r = realValue(value)) return truncateToInteger(*r);
  if (auto s = stringValue(value)) return stringIntegerValue(*s);
  return 0;
}

std::optional<std::vector<std::string>> stringArrayFromPlist(plist_t value) {
  if (value == nullptr || plist_get_node_type(value) != PLIST_ARRAY) return std::nullopt;
  std::vector<std::string> strings;
  uint32_t count = plist_array_get_size(value);
  for (uint32_t i = 0; i < count; ++i) {
    auto text = stringValue(plist_array_get_item(value, i));
    if (!text) return std::nullopt;
    strings.push_back(std::move(*text));
  }
  return strings;
}

}  // namespace shelvo::platform
