#include "platform/system/console.h"

#include <unistd.h>

#include "platform/system/files.h"

namespace shelvo::platform {

void StandardOutput::printLine(std::string_view line) {
  std::string buffer;
  buffer.reserve(line.size() + 1);
  buffer.append(line);
  buffer.push_back('\n');
  writeAll(STDOUT_FILENO, buffer);
}

void CapturedConsole::printLine(std::string_view line) {
  std::lock_guard lock(mutex_);
  text_.append(line);
  text_.push_back('\n');
}

std::string CapturedConsole::text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

}  // namespace shelvo::platform
