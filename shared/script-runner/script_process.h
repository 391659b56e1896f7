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
  // Each read of the output, before it is decoded or trimmed (where the handler is called).
  std::function<void(std::string_view bytes)> wrote;
  // Blanked in the output before it is logged, printed or handed to wrote: the credential,
  // which a script may print.
  std::string secret;
};

// The script text in a sealed memory file, handed to zsh on descriptor 3 for the run.
platform::Result<platform::UniqueFd> makeScriptFile(std::string_view script);

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

// Runs the script and returns its termination status once it has exited and the output it left
// in the pipe has been handled. A background child that keeps the pipe open delays the return
// only briefly; its later output is still handled while the process lives.
platform::Result<std::int32_t> executeScript(const std::string& zshPath, int scriptFile,
                                             ScriptOutputHandler handler,
                                             ScriptProcessWatch watch = {});

}  // namespace shelvo
