#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/log/logger.h"
#include "platform/result.h"
#include "platform/system/console.h"
#include "platform/system/unique_fd.h"

namespace shelvo {

// What became of a script zsh was given.
struct ScriptOutcome {
  enum class Kind { Ran, InvalidSyntax, CheckNotStarted };
  Kind kind = Kind::Ran;
  std::int32_t exitStatus = 0;  // the script's, when it ran
  bool ran() const { return kind == Kind::Ran; }
  // The status a program ends with for a script that never ran: 50 for a refused syntax, 51
  // when the check could not be started.
  int refusalStatus() const { return kind == Kind::InvalidSyntax ? 50 : 51; }
};

// Runs scripts the program did not write: zsh checks the syntax first (a script that fails the
// check never runs), then runs the script while every chunk it writes to standard output is
// logged and printed. The script text travels in a sealed memory file on descriptor 3, never in
// argv, where every local user could read it and where one argument is capped at 128 KiB.
class ScriptRunner {
 public:
  ScriptRunner(platform::Logger logger, std::shared_ptr<platform::Console> console,
               std::string zshPath = "/bin/zsh");

  // The agent's copy: logs the progress message first. An error when the script's process could
  // not be started, with the platform's description.
  platform::Result<ScriptOutcome> runScript(std::string_view script,
                                            std::string_view progressMessage) const;
  // The helper's copy, without a progress message.
  platform::Result<ScriptOutcome> runScript(std::string_view script) const;

 private:
  // Whether zsh accepts the script's syntax; logs the verdict.
  ScriptOutcome::Kind validateScript(int scriptFile) const;

  platform::Logger logger_;
  std::shared_ptr<platform::Console> console_;
  std::string zshPath_;
};

}  // namespace shelvo
