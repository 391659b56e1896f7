#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "agent/service/credential.h"
#include "platform/env/unique_fd.h"
#include "platform/service-management/service_notifier.h"
#include "shared/records/output_recorder.h"
#include "shared/script-runner/script_runner.h"

namespace shelvo {

// What the agent does around each script it runs: keeps the output for the run record, tells
// systemd which step the run is at, and asks the script to end when the run is stopped.
class ScriptWatch final : public ScriptRunObserver {
 public:
  // whileRunning: the agent's own work that may be done while a script runs.
  ScriptWatch(std::shared_ptr<OutputRecorder> output, platform::ServiceNotifier notifier,
              std::function<void()> whileRunning)
      : output_(std::move(output)),
        notifier_(std::move(notifier)),
        whileRunning_(std::move(whileRunning)) {}

  void checking() override;
  void started(pid_t pid) override;
  void running() override { whileRunning_(); }
  void ended() override;
  void wrote(std::string_view bytes) override;
  std::string secret() const override;

  // The credential: kept out of the log, the console and the run record.
  void setSecret(const Credential& credential);

  // The run is to stop (on the signal's thread). True while a script is being checked or runs:
  // it is asked to end (SIGTERM) and the run ends once it has. False when no script is under
  // way and the run may end at once.
  bool stop(int signal);
  // The signal that stopped the run, if one did.
  std::optional<int> stoppedBy() const;

 private:
  // SIGTERM to the script's zsh, if one is under way; called with mutex_ held.
  void askScriptToEnd();

  std::shared_ptr<OutputRecorder> output_;
  platform::ServiceNotifier notifier_;
  std::function<void()> whileRunning_;
  mutable std::mutex mutex_;
  bool underWay_ = false;  // from checking() to ended()
  // The script's zsh from started() to ended(). ended() comes after zsh has been reaped, so it is
  // signalled through a pidfd where the kernel has them: its pid may name another process by then.
  pid_t script_ = 0;
  platform::UniqueFd scriptPin_;
  std::optional<int> stoppedBy_;
  std::string secret_;
};

}  // namespace shelvo
