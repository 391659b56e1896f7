#pragma once

#include <string>

namespace shelvo::platform {

// A random (version 4) UUID in its 36-character uppercase form.
std::string makeUUIDString();

// The process's globally unique string: a new UUID, the pid and a monotonic clock reading in
// 16 uppercase hex digits, joined by "-".
std::string globallyUniqueString();

}  // namespace shelvo::platform
