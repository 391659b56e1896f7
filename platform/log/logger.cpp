#include "platform/log/logger.h"

#include "platform/env/env.h"

namespace shelvo::platform {

LogConfig LogConfig::fromEnvironment(const std::string& identifier, const Env& env) {
  LogConfig config;
  config.revealPrivate = env.variable("SHELVO_LOG_PRIVATE") == "1";
  const std::string choice = env.variable("SHELVO_LOG").value_or("journal");
  std::string_view selected = choice;
  if (selected == "none") {
    config.sink = std::make_shared<NullSink>();
  } else if (selected == "stderr") {
    config.sink = std::make_shared<StderrSink>();
  } else if (selected.starts_with("file:")) {
    config.sink = FileSink::open(std::string(selected.substr(5)));
    if (!config.sink) config.sink = std::make_shared<StderrSink>();
  }
  if (!config.sink) config.sink = std::make_shared<JournalSink>(identifier);
  return config;
}

Logger::Logger(LogConfig config, std::string subsystem, std::string category)
    : config_(std::move(config)),
      subsystem_(std::move(subsystem)),
      category_(std::move(category)) {}

void Logger::write(LogLevel level, std::string_view format,
                   std::initializer_list<LogArgument> arguments) const {
  // A message that is one public string, like every chunk of script output, is passed on as it
  // stands instead of being copied through the formatter.
  if ((format == "%{public}s" || format == "%{public}@") && arguments.size() == 1) {
    if (const auto* text = std::get_if<std::string_view>(arguments.begin())) {
      config_.sink->write(LogEntry{level, subsystem_, category_, *text});
      return;
    }
  }
  std::string message = formatLogMessage(format, arguments, config_.revealPrivate);
  config_.sink->write(LogEntry{level, subsystem_, category_, message});
}

}  // namespace shelvo::platform
