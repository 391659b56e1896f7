#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shelvo::platform {

struct PlistFree {
  void operator()(plist_t node) const { plist_free(node); }
};

// An owned plist tree. Nodes borrowed from inside it are plain plist_t and must not outlive it.
using Plist = std::unique_ptr<void, PlistFree>;

// Parses XML or binary property-list bytes; null when they are neither, or when their shape is
// beyond what may be handed to libplist (checkPlistShape).
Plist parsePlist(std::string_view bytes);
std::string toBinaryPlist(plist_t node);
std::string toXmlPlist(plist_t node);

Plist makeString(std::string_view value);
Plist makeInteger(std::int64_t value);
Plist makeBool(bool value);
Plist makeData(std::string_view bytes);
Plist makeStringArray(const std::vector<std::string>& values);
Plist makeDictionary();
Plist copyPlist(plist_t node);

bool isDictionary(plist_t node);
// Typed reads of a borrowed node; nothing when the node has another type.
std::optional<std::string> stringValue(plist_t node);
std::optional<std::int64_t> integerValue(plist_t node);
std::optional<bool> boolValue(plist_t node);
std::optional<double> realValue(plist_t node);
std::optional<std::string> dataValue(plist_t node);

// A borrowed value of a dictionary, or null.
plist_t dictionaryItem(plist_t dictionary, const std::string& key);
std::vector<std::string> dictionaryKeys(plist_t dictionary);

}  // namespace shelvo::platform
