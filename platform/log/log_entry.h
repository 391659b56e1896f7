#pragma once

#include <string>
#include <string_view>

namespace shelvo::platform {

enum class LogLevel { Debug, Default, Error };

std::string_view logLevelName(LogLevel level);
// Syslog priority: debug 7, default 5 (notice), error 3.
int logLevelPriority(LogLevel level);

struct LogEntry {
  LogLevel level = LogLevel::Default;
  std::string_view subsystem;
  std::string_view category;
  std::string_view message;
  // The run the entry belongs to (SHELVO_RUN_ID in the journal); empty outside a run.
  std::string_view runId;
  // A fixed MESSAGE_ID that a journal catalog explains; empty for ordinary entries.
  std::string_view messageId;
};

}  // namespace shelvo::platform
