#pragma once

#include <plist/plist.h>

#include <string>

namespace shelvo::tools {

// A value as the platform's defaults tool prints it: old-style property-list text, strings
// quoted where they need it, booleans as 1 and 0 (scripts written for that tool expect them).
std::string describePlist(plist_t node);
// The same on one line, for tables.
std::string describePlistInline(plist_t node);
// What `read-type` prints after "Type is ": boolean, integer, float, string, data, array or
// dictionary.
std::string plistTypeName(plist_t node);

}  // namespace shelvo::tools
