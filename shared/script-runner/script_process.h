#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
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

// The script text in a sealed memory file, made once and handed to zsh on descriptor 3 for both
// the check and the run.
platform::Result<platform::UniqueFd> makeScriptFile(std::string_view script);

// Lets zsh parse the script without running any of it; the termination status of the check,
// or the error that kept it from starting.
platform::Result<std::int32_t> checkScriptSyntax(const std::string& zshPath, int scriptFile);

// Runs the script and returns its termination status once it has exited and the output it left
// in the pipe has been handled. A background child that keeps the pipe open delays the return
// only briefly; its later output is still handled while the process lives.
platform::Result<std::int32_t> executeScript(const std::string& zshPath, int scriptFile,
                                             ScriptOutputHandler handler,
                                             ScriptProcessWatch watch = {});

}  // namespace shelvo
