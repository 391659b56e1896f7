#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace shelvo::platform {

// Where messages for the operator are printed: one line per call, written at once, so lines
// from the script reader and the main thread never interleave.
class Console {
 public:
  virtual ~Console() = default;
  virtual void printLine(std::string_view line) = 0;
};

// Standard output, unbuffered: every line is one write(2), so nothing waits in a buffer when
// the process ends. A closed output is ignored (SIGPIPE is ignored by the agent).
class StandardOutput final : public Console {
 public:
  void printLine(std::string_view line) override;
};

// Standard error, for hints beside a command's output.
class StandardError final : public Console {
 public:
  void printLine(std::string_view line) override;
};

// Prints nothing: where every line is already in the log.
class NoConsole final : public Console {
 public:
  void printLine(std::string_view) override {}
};

}  // namespace shelvo::platform
