#include "platform/defaults/conversions.h"

#include "emulation/defaults/string_values.h"
#include "platform/plist/plist.h"

namespace shelvo::platform {

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
