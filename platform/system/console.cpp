#include "platform/system/console.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include "platform/env/files.h"

namespace shelvo::platform {

// A console that cannot be written to (closed, or its reader gone) has no one left to tell, so
// its write failures are dropped.
void StandardOutput::printLine(std::string_view line) {
  // One writev for the text and its line feed: the line leaves whole and is not copied.
  char newline = '\n';
  struct iovec parts[2] = {{const_cast<char*>(line.data()), line.size()}, {&newline, 1}};
  ssize_t written = 0;
  do {
    written = ::writev(STDOUT_FILENO, parts, 2);
  } while (written < 0 && errno == EINTR);
  if (written < 0 || static_cast<std::size_t>(written) == line.size() + 1) return;
  // A short write (a full pipe or terminal): send the rest plainly.
  if (static_cast<std::size_t>(written) < line.size()) {
    writeAll(STDOUT_FILENO, line.substr(static_cast<std::size_t>(written))).ignoreError();
  }
  writeAll(STDOUT_FILENO, "\n").ignoreError();
}

void StandardError::printLine(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  writeAll(STDERR_FILENO, text).ignoreError();
}

}  // namespace shelvo::platform
