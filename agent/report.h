#pragma once

#include <initializer_list>
#include <string_view>

#include "agent/agent_platform.h"
#include "platform/log/logger.h"

namespace shelvo {

// How the agent tells the operator: the message is logged, then printed, unless standard output
// is that log (the journal under systemd), which then holds it once.
void report(const AgentPlatform& platform, const platform::Logger& logger, platform::LogLevel level,
            std::string_view message);
// The same for a log format with its arguments: the log hides the private ones as it always
// does; the printed line shows them all.
void report(const AgentPlatform& platform, const platform::Logger& logger, platform::LogLevel level,
            std::string_view format, std::initializer_list<platform::LogArgument> arguments);

}  // namespace shelvo
