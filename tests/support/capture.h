#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log/log_sink.h"
#include "platform/system/console.h"

namespace shelvo::test {

// Keeps log entries in memory.
class CaptureSink final : public platform::LogSink {
 public:
  struct Record {
    platform::LogLevel level;
    std::string subsystem;
    std::string category;
    std::string message;
    std::string runId;
    std::string messageId;
  };
  void write(const platform::LogEntry& entry) override {
    std::lock_guard lock(mutex_);
    records_.push_back({entry.level, std::string(entry.subsystem), std::string(entry.category),
                        std::string(entry.message), std::string(entry.runId),
                        std::string(entry.messageId)});
  }
  std::vector<Record> records() const {
    std::lock_guard lock(mutex_);
    return records_;
  }
  std::vector<std::string> messages() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> messages;
    for (const auto& record : records_) messages.push_back(record.message);
    return messages;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Record> records_;
};

// Keeps printed lines in memory.
class CapturedConsole final : public platform::Console {
 public:
  void printLine(std::string_view line) override {
    std::lock_guard lock(mutex_);
    text_.append(line);
    text_.push_back('\n');
  }
  std::string text() const {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

}  // namespace shelvo::test
