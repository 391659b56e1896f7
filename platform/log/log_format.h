#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace shelvo::platform {

using LogArgument = std::variant<std::string_view, std::int64_t>;

// Renders an os_log-style format: "%{public}s" and "%{public}@" insert a string, "%s" and "%@"
// insert "<private>" unless revealPrivate, "%ld" and "%d" insert a number (numbers are public),
// "%%" is a percent sign. Anything else is copied as it stands.
std::string formatLogMessage(std::string_view format, std::initializer_list<LogArgument> arguments,
                             bool revealPrivate);

}  // namespace shelvo::platform
