#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "platform/env/unique_fd.h"

namespace shelvo {

// Called with each chunk of output: one read of the pipe, valid UTF-8, newlines trimmed from both
// ends. On the caller's thread until executeScript returns; output a background child writes
// after that comes on a thread of its own.
using ScriptOutputHandler = std::function<void(std::string_view chunk)>;

// What else a caller learns of a running script.
struct ScriptProcessWatch {
  // The script's process, just started.
  std::function<void(pid_t)> started;
  // The script has been handed over and runs; its output is read once this returns.
  std::function<void()> running;
  // Each read of the output, before it is decoded or trimmed (where the handler is called).
  std::function<void(std::string_view bytes)> wrote;
  // Blanked in the output before it is logged, printed or handed to wrote: the credential,
  // which a script may print.
  std::string secret;
};

// zsh parsing a script without running any of it. It starts before the script is known, so that
// its start-up overlaps the wait for the script, and reads the text from a pipe on descriptor 3.
class SyntaxCheck {
 public:
  // A check whose zsh could not be started keeps the error for verdict().
  static SyntaxCheck start(const std::string& zshPath);
  SyntaxCheck(SyntaxCheck&& other) noexcept;
  SyntaxCheck& operator=(SyntaxCheck&&) = delete;
  // A check that never got a script reads an empty one, which runs nothing, and is reaped.
  ~SyntaxCheck();

  // Hands zsh the whole script and returns the check's termination status, or the error that
  // kept zsh from starting.
  platform::Result<std::int32_t> verdict(std::string_view script);

 private:
  SyntaxCheck(pid_t pid, platform::UniqueFd input) : pid_(pid), input_(std::move(input)) {}
  explicit SyntaxCheck(platform::Error notStarted) : notStarted_(std::move(notStarted)) {}

  pid_t pid_ = -1;  // while zsh runs unreaped
  platform::UniqueFd input_;
  std::optional<platform::Error> notStarted_;
};

// zsh for a script's run, started before the script is known, like the check. The script reaches
// it in a sealed memory file on descriptor 3; it runs the script only once a word on descriptor 4
// says the file is filled and sealed, so nothing runs unless the whole text was handed over.
class PreparedRun {
 public:
  // A run whose zsh could not be started keeps the error for executeScript.
  static PreparedRun start(const std::string& zshPath);
  PreparedRun(PreparedRun&& other) noexcept;
  PreparedRun& operator=(PreparedRun&&) = delete;
  // A run that never got a script runs nothing and is reaped.
  ~PreparedRun();

  // Hands zsh the whole script, telling started() its process just before the script may run;
  // that process, which now runs the script, or why it cannot.
  platform::Result<pid_t> handOver(std::string_view script,
                                   const std::function<void(pid_t)>& started);
  // The read end of the script's output.
  platform::UniqueFd takeOutput() { return std::move(output_); }

 private:
  PreparedRun() = default;
  explicit PreparedRun(platform::Error notStarted) : notStarted_(std::move(notStarted)) {}

  pid_t pid_ = -1;  // until the script is handed over
  platform::UniqueFd script_;
  platform::UniqueFd go_;
  platform::UniqueFd output_;
  std::optional<platform::Error> notStarted_;
};

// Hands the script to the prepared run and returns its termination status once it has exited and
// the output it left in the pipe has been handled. A background child that keeps the pipe open
// delays the return only briefly; its later output is still handled while the process lives.
platform::Result<std::int32_t> executeScript(PreparedRun run, std::string_view script,
                                             ScriptOutputHandler handler,
                                             ScriptProcessWatch watch = {});

}  // namespace shelvo
