#include "agent/records/outcome_rules.h"
#include "agent/shelvo_agent_controller.h"

namespace shelvo {
namespace {

// A run lock that is not safe to use (another owner, a link) or cannot be taken at all.
constexpr int kRunLockUnusableStatus = 30;
constexpr const char* kBusyMessage =
    "Another run is still in progress after 30 minutes. Skipping updates...";

}  // namespace

void ShelvoAgentController::beginRun(const std::string& command,
                                     std::optional<std::string> bundleIdentifier, bool scheduled) {
  platform_.env->watchStopSignals([this](int signal) { stopRun(signal); });
  switch (fleet_.beginRun(command, std::move(bundleIdentifier), scheduled)) {
    case RunTurn::Taken:
      return;
    case RunTurn::Busy:
      report(agentLogger, platform::LogLevel::Default, kBusyMessage);
      endRun(0, RunOutcome::Busy, kBusyMessage);
    case RunTurn::Refused:
      exit(kRunLockUnusableStatus);
  }
}

void ShelvoAgentController::endRun(int status, RunOutcome outcome,
                                   std::optional<std::string> message) {
  fleet_.noteOutcome(outcome, std::move(message));
  exit(status);
}

void ShelvoAgentController::stopRun(int signal) {
  // A script under way is asked to end first; the run ends in runScript once it has.
  if (scriptWatch_->stop(signal)) return;
  endStoppedRun(signal);
}

void ShelvoAgentController::endStoppedRun(int signal) {
  std::string message = stoppedMessage(signal);
  agentLogger.error("%{public}s", {message});
  endRun(128 + signal, RunOutcome::TimedOut, message);
}

}  // namespace shelvo
