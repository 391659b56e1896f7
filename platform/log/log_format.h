#pragma once

#include <chrono>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace shelvo::platform {

// A moment as RFC 3339 text in UTC with milliseconds: "2026-12-07T01:02:03.456Z".
std::string rfc3339(std::chrono::system_clock::time_point moment);

using LogArgument = std::variant<std::string_view, std::int64_t>;

// Renders an os_log-style format: "%{public}s" and "%{public}@" insert a string, "%s" and "%@"
// insert "<private>" unless revealPrivate, "%ld" and "%d" insert a number (numbers are public),
// "%%" is a percent sign. Anything else is copied as it stands.
std::string formatLogMessage(std::string_view format, std::initializer_list<LogArgument> arguments,
                             bool revealPrivate);

}  // namespace shelvo::platform
