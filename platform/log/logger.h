#pragma once

#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/log/log_format.h"
#include "platform/log/log_sink.h"

namespace shelvo::platform {

class Env;

// The id of the run in progress, shared by every logger made from one LogConfig: each entry
// written while it is set carries it, so one query finds all of a run's entries.
class LogRunTag {
 public:
  void set(std::string runId);
  void clear();
  std::shared_ptr<const std::string> current() const;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const std::string> runId_;
};

// Where a process's loggers write and whether private arguments are shown.
struct LogConfig {
  std::shared_ptr<LogSink> sink;
  bool revealPrivate = false;
  // Absent where no entry belongs to a run.
  std::shared_ptr<LogRunTag> runTag = std::make_shared<LogRunTag>();

  // SHELVO_LOG (journal, stderr, file:PATH, none; default journal) and SHELVO_LOG_PRIVATE=1.
  // identifier names the program in the journal.
  static LogConfig fromEnvironment(const std::string& identifier, const Env& env);
};

// A log handle with a subsystem and a category, like the platform's loggers.
class Logger {
 public:
  Logger(LogConfig config, std::string subsystem, std::string category);

  void debug(std::string_view format, std::initializer_list<LogArgument> arguments = {}) const {
    write(LogLevel::Debug, format, arguments);
  }
  // The default level.
  void log(std::string_view format, std::initializer_list<LogArgument> arguments = {}) const {
    write(LogLevel::Default, format, arguments);
  }
  void error(std::string_view format, std::initializer_list<LogArgument> arguments = {}) const {
    write(LogLevel::Error, format, arguments);
  }
  void write(LogLevel level, std::string_view format,
             std::initializer_list<LogArgument> arguments) const;
  // An entry a journal catalog explains: it carries the fixed messageId.
  void event(std::string_view messageId, LogLevel level, std::string_view format,
             std::initializer_list<LogArgument> arguments) const;

  const std::string& subsystem() const { return subsystem_; }
  const std::string& category() const { return category_; }
  // The tag every logger of this configuration shares; null when there is none.
  const std::shared_ptr<LogRunTag>& runTag() const { return config_.runTag; }

 private:
  void send(LogLevel level, std::string_view message, std::string_view messageId) const;

  LogConfig config_;
  std::string subsystem_;
  std::string category_;
};

}  // namespace shelvo::platform
