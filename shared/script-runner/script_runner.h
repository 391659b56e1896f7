#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/log/logger.h"
#include "platform/system/console.h"
#include "platform/system/unique_fd.h"

namespace shelvo {

// The script's process could not be started; what() is the platform's description.
class ScriptLaunchError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Runs scripts the program did not write: zsh checks the syntax first (a failed check ends the
// process), then runs the script while every chunk it writes to standard output is logged and
// printed. The script text travels in a sealed memory file on descriptor 3, never in argv,
// where every local user could read it and where one argument is capped at 128 KiB.
class ScriptRunner {
 public:
  ScriptRunner(platform::Logger logger, std::shared_ptr<platform::Console> console,
               std::string zshPath = "/bin/zsh");

  // The agent's copy: logs the progress message first; the script's exit status is not
  // examined. Throws ScriptLaunchError.
  std::int32_t runScript(std::string_view script, std::string_view progressMessage) const;

  // The helper's copy: hands the script's exit status to completion, exactly once. Throws
  // ScriptLaunchError, and then never calls completion.
  void runScript(std::string_view script,
                 const std::function<void(std::int32_t)>& completion) const;

 private:
  std::int32_t runValidated(std::string_view script) const;
  platform::UniqueFd scriptFileOrExit(std::string_view script) const;
  // Returns only when zsh accepts the script's syntax; otherwise ends the process with 50 (the
  // check failed) or 51 (the check could not be started).
  void validateScript(int scriptFile) const;

  platform::Logger logger_;
  std::shared_ptr<platform::Console> console_;
  std::string zshPath_;
};

}  // namespace shelvo
