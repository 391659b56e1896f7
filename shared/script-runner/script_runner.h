#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "platform/env/unique_fd.h"
#include "platform/log/logger.h"
#include "platform/power/shutdown_inhibitor.h"
#include "platform/system/console.h"
#include "shared/script-runner/script_process.h"

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
  // And what the runner logged about it.
  std::string_view refusalMessage() const {
    return kind == Kind::InvalidSyntax ? kInvalidSyntaxMessage : kCheckNotStartedMessage;
  }

  static constexpr std::string_view kInvalidSyntaxMessage =
      "Installation information was invalid, exiting";
  static constexpr std::string_view kCheckNotStartedMessage =
      "Error while validating installation information, exiting";
};

// The two zsh processes of the next script, the check's and the run's, started while the caller
// still waits for the script so that their start-up overlaps that wait.
struct ScriptLaunch {
  SyntaxCheck check;
  PreparedRun run;
};

// What a program does around each script besides logging and printing its output. Calls come on
// the thread that runs the script, except wrote() for output a background child of the script
// writes after the script has ended, which comes on a thread of its own.
class ScriptRunObserver {
 public:
  virtual ~ScriptRunObserver() = default;
  // zsh is about to check the script's syntax.
  virtual void checking() {}
  // The script's process has started; it has ended, and its output been read, at ended().
  virtual void started(pid_t) {}
  // The script runs: a moment for the program's own work, which then waits for none of the
  // script's. Its output waits in the pipe meanwhile.
  virtual void running() {}
  virtual void ended() {}
  // One read of the script's output, secret blanked, before it is decoded or trimmed.
  virtual void wrote(std::string_view) {}
  // What must never leave the script's output: blanked before it is logged, printed or seen by
  // wrote(). Asked once per run, when the script starts.
  virtual std::string secret() const { return {}; }
};

// What a program hands the runner besides its log and console; each part may be missing.
struct ScriptRunHooks {
  // Held from just before a script starts until it has ended: shutdown and sleep wait for it.
  std::shared_ptr<platform::ShutdownInhibitor> inhibitor = nullptr;
  std::shared_ptr<ScriptRunObserver> observer = nullptr;
};

// Runs scripts the program did not write: zsh checks the syntax first (a script that fails the
// check never runs), then runs the script while every chunk it writes to standard output is
// logged and printed. The script text reaches zsh on descriptor 3 (a pipe for the check, a sealed
// memory file for the run), never in argv, where every local user could read it and where one
// argument is capped at 128 KiB.
class ScriptRunner {
 public:
  ScriptRunner(platform::Logger logger, std::shared_ptr<platform::Console> console,
               std::string zshPath = "/bin/zsh", ScriptRunHooks hooks = {});

  // zsh for the next script's check and run, started while the caller still waits for it.
  ScriptLaunch prepare() const;

  // The agent's copy: logs the progress message first. An error when the script's process could
  // not be started, with the platform's description.
  platform::Result<ScriptOutcome> runScript(std::string_view script,
                                            std::string_view progressMessage,
                                            ScriptLaunch launch) const;
  // The helper's copy, without a progress message.
  platform::Result<ScriptOutcome> runScript(std::string_view script) const;

 private:
  platform::Result<ScriptOutcome> runChecked(std::string_view script, ScriptLaunch launch) const;
  // Whether zsh accepts the script's syntax; logs the verdict.
  ScriptOutcome::Kind validateScript(std::string_view script, SyntaxCheck check) const;
  // A logind delay lock for the script's run, when the program handed an inhibitor.
  std::optional<platform::InhibitorLock> delayShutdown() const;

  platform::Logger logger_;
  std::shared_ptr<platform::Console> console_;
  std::string zshPath_;
  ScriptRunHooks hooks_;
};

}  // namespace shelvo
