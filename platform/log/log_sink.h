#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/env/unique_fd.h"
#include "platform/log/log_entry.h"

namespace shelvo::platform {

// Where log entries go. Sinks are shared by every logger of a process and may be called from
// several threads at once.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void write(const LogEntry& entry) = 0;
};

// The systemd journal, with the subsystem and category as fields of their own, and the run id
// (SHELVO_RUN_ID) and MESSAGE_ID where an entry has them. libsystemd is loaded when the first
// entry is written; without a journal, entries are dropped.
class JournalSink final : public LogSink {
 public:
  explicit JournalSink(std::string identifier);
  void write(const LogEntry& entry) override;

 private:
  std::string identifierField_;
};

// "<time> <level> <subsystem>[<category>] <message>" on standard error.
class StderrSink final : public LogSink {
 public:
  void write(const LogEntry& entry) override;
};

// One JSON object per line, appended with one write per entry; an entry of a run also names
// the run ("run_id") and, at its start and end, the entry's "message_id".
class FileSink final : public LogSink {
 public:
  explicit FileSink(UniqueFd file) : file_(std::move(file)) {}
  static std::shared_ptr<LogSink> open(const std::string& path);
  void write(const LogEntry& entry) override;

 private:
  UniqueFd file_;
};

class NullSink final : public LogSink {
 public:
  void write(const LogEntry&) override {}
};

}  // namespace shelvo::platform
