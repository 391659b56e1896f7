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

void LogRunTag::set(std::string runId) {
  auto shared = std::make_shared<const std::string>(std::move(runId));
  std::lock_guard lock(mutex_);
  runId_ = std::move(shared);
}

void LogRunTag::clear() {
  std::lock_guard lock(mutex_);
  runId_.reset();
}

std::shared_ptr<const std::string> LogRunTag::current() const {
  std::lock_guard lock(mutex_);
  return runId_;
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
      send(level, *text, {});
      return;
    }
  }
  send(level, formatLogMessage(format, arguments, config_.revealPrivate), {});
}

void Logger::event(std::string_view messageId, LogLevel level, std::string_view format,
                   std::initializer_list<LogArgument> arguments) const {
  send(level, formatLogMessage(format, arguments, config_.revealPrivate), messageId);
}

void Logger::send(LogLevel level, std::string_view message, std::string_view messageId) const {
  auto runId = config_.runTag ? config_.runTag->current() : nullptr;
  config_.sink->write(LogEntry{level, subsystem_, category_, message,
                               runId ? std::string_view(*runId) : std::string_view(), messageId});
}

}  // namespace shelvo::platform
