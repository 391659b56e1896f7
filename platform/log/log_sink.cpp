#include "platform/log/log_sink.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <ctime>

#include "platform/dynamic/library.h"
#include "platform/env/files.h"
#include "platform/log/log_format.h"
#include "platform/text/utf8.h"

namespace shelvo::platform {
namespace {

using SdJournalSendv = int(const struct iovec*, int);

SdJournalSendv* journalSendv() {
  static SdJournalSendv* const sendv =
      sharedLibrary("libsystemd.so.0").function<SdJournalSendv>("sd_journal_sendv");
  return sendv;
}

}  // namespace

std::string_view logLevelName(LogLevel level) {
  switch (level) {
    case LogLevel::Debug:
      return "debug";
    case LogLevel::Default:
      return "default";
    case LogLevel::Error:
      return "error";
  }
  return "default";
}

int logLevelPriority(LogLevel level) {
  switch (level) {
    case LogLevel::Debug:
      return 7;
    case LogLevel::Default:
      return 5;
    case LogLevel::Error:
      return 3;
  }
  return 5;
}

JournalSink::JournalSink(std::string identifier)
    : identifierField_("SYSLOG_IDENTIFIER=" + std::move(identifier)) {}

void JournalSink::write(const LogEntry& entry) {
  SdJournalSendv* sendv = journalSendv();
  if (sendv == nullptr) return;
  std::string message = "MESSAGE=";
  message.append(entry.message);
  std::string priority = "PRIORITY=" + std::to_string(logLevelPriority(entry.level));
  std::string subsystem = "SHELVO_SUBSYSTEM=";
  subsystem.append(entry.subsystem);
  std::string category = "SHELVO_CATEGORY=";
  category.append(entry.category);
  std::string runId = "SHELVO_RUN_ID=";
  runId.append(entry.runId);
  std::string messageId = "MESSAGE_ID=";
  messageId.append(entry.messageId);
  std::array<const std::string*, 7> fields{&message, &priority, &identifierField_, &subsystem,
                                           &category};
  std::size_t count = 5;
  if (!entry.runId.empty()) fields[count++] = &runId;
  if (!entry.messageId.empty()) fields[count++] = &messageId;
  std::array<struct iovec, 7> vectors{};
  for (std::size_t i = 0; i < count; ++i) {
    vectors[i].iov_base = const_cast<char*>(fields[i]->data());
    vectors[i].iov_len = fields[i]->size();
  }
  sendv(vectors.data(), static_cast<int>(count));
}

void StderrSink::write(const LogEntry& entry) {
  std::string line = rfc3339(std::chrono::system_clock::now());
  line.push_back(' ');
  line.append(logLevelName(entry.level));
  line.push_back(' ');
  line.append(entry.subsystem);
  line.push_back('[');
  line.append(entry.category);
  line.append("] ");
  line.append(entry.message);
  line.push_back('\n');
  writeAll(STDERR_FILENO, line).ignoreError();  // a log that cannot be written has no one to tell
}

std::shared_ptr<LogSink> FileSink::open(const std::string& path) {
  UniqueFd file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  if (!file) return nullptr;
  return std::make_shared<FileSink>(std::move(file));
}

void FileSink::write(const LogEntry& entry) {
  // Reused per thread: streaming script output writes large entries back to back.
  thread_local std::string line;
  line.clear();
  line.reserve(entry.message.size() + entry.message.size() / 8 + 160);
  line.append("{\"time\":\"");
  line.append(rfc3339(std::chrono::system_clock::now()));
  line.append("\",\"level\":\"");
  line.append(logLevelName(entry.level));
  line.append("\",\"subsystem\":\"");
  appendJsonEscaped(line, entry.subsystem);
  line.append("\",\"category\":\"");
  appendJsonEscaped(line, entry.category);
  line.append("\",\"message\":\"");
  appendJsonEscaped(line, entry.message);
  if (!entry.runId.empty()) {
    line.append("\",\"run_id\":\"");
    appendJsonEscaped(line, entry.runId);
  }
  if (!entry.messageId.empty()) {
    line.append("\",\"message_id\":\"");
    line.append(entry.messageId);
  }
  line.append("\",\"pid\":");
  line.append(std::to_string(::getpid()));
  line.append("}\n");
  writeAll(file_.get(), line).ignoreError();  // a log that cannot be written has no one to tell
}

}  // namespace shelvo::platform
