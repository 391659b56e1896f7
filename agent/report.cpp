#include "agent/report.h"

namespace shelvo {

void report(const AgentPlatform& platform, const platform::Logger& logger, platform::LogLevel level,
            std::string_view message) {
  report(platform, logger, level, "%{public}s", {message});
}

void report(const AgentPlatform& platform, const platform::Logger& logger, platform::LogLevel level,
            std::string_view format, std::initializer_list<platform::LogArgument> arguments) {
  logger.write(level, format, arguments);
  if (platform.echoLoggedLines)
    platform.console->printLine(platform::formatLogMessage(format, arguments, true));
}

}  // namespace shelvo
