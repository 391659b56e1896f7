#include "agent/records/fleet_reporting.h"

#include <unistd.h>

#include "agent/records/fleet_metrics.h"

namespace shelvo {

FleetReporting::FleetReporting(const AgentPlatform& platform, const platform::Logger& logger,
                               std::shared_ptr<OutputRecorder> output, std::string agentVersion)
    : platform_(platform),
      logger_(logger),
      output_(std::move(output)),
      agentVersion_(std::move(agentVersion)) {}

void FleetReporting::beginRun(const std::string& command,
                              std::optional<std::string> bundleIdentifier) {
  std::string holder = "pid " + std::to_string(::getpid()) + ", shelvo --" + command +
                       (bundleIdentifier ? " " + *bundleIdentifier : "");
  auto lock = platform::RunLock::acquire(
      platform_.root.resolve("/run/shelvo/agent.lock"), holder, [&](const std::string& other) {
        platform_.errorConsole->printLine("shelvo: waiting for the run in progress (" +
                                          (other.empty() ? "unknown" : other) + ") to end");
      });
  if (lock) {
    lock_ = std::move(*lock);
  } else {
    logger_.error("Cannot take the run lock: %{public}s", {lock.error().message});
  }
  run_ = RunRecord{};
  run_->id = makeRunId();
  run_->version = agentVersion_;
  run_->command = command;
  run_->bundleIdentifier = std::move(bundleIdentifier);
  run_->started = platform_.env->now();
}

void FleetReporting::finishRun(int status) {
  if (!run_) return;
  run_->ended = platform_.env->now();
  run_->agentStatus = status;
  output_->copyInto(*run_);
  auto folder = runRecordFolder(platform_.root.resolve("/"));
  if (auto stored = storeRunRecord(*platform_.env, *run_, folder); !stored) {
    logger_.error("Cannot store the run record: %{public}s", {stored.error().message});
  }
  run_.reset();
  publishMetrics();
}

void FleetReporting::noteScheduleState(bool enabled) {
  if (platform_.user.name != "root") return;
  storeScheduleEnabled(*platform_.env, platform_.root.resolve("/"), enabled);
  publishMetrics();
}

void FleetReporting::noteUpdatesAvailable(long count) {
  if (platform_.user.name != "root") return;
  storeUpdatesAvailable(*platform_.env, platform_.root.resolve("/"), count);
  publishMetrics();
}

void FleetReporting::publishMetrics() {
  if (auto published = shelvo::publishMetrics(*platform_.env, platform_.root.resolve("/"));
      !published) {
    logger_.error("Cannot write the metrics file: %{public}s", {published.error().message});
  }
}

}  // namespace shelvo
