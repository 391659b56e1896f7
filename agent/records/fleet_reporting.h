#pragma once

#include <memory>
#include <optional>
#include <string>

#include "agent/agent_platform.h"
#include "platform/log/logger.h"
#include "platform/system/run_lock.h"
#include "shared/records/run_record.h"

namespace shelvo {

// What the fleet sees of this machine: runs that change the system take turns under the run
// lock and are each recorded when the process ends; the metrics file follows every change.
class FleetReporting {
 public:
  FleetReporting(const AgentPlatform& platform, const platform::Logger& logger,
                 std::shared_ptr<OutputRecorder> output, std::string agentVersion);

  // Waits for the run lock, then starts the record of an install, update or scheduled update.
  void beginRun(const std::string& command, std::optional<std::string> bundleIdentifier);
  // The run being recorded, if any.
  RunRecord* currentRun() { return run_ ? &*run_ : nullptr; }
  // Stores the run's record with the status the process ends with, then the metrics.
  void finishRun(int status);

  // Root keeps fleet state; for a user these change nothing.
  void noteScheduleState(bool enabled);
  void noteUpdatesAvailable(long count);

 private:
  void publishMetrics();

  const AgentPlatform& platform_;
  const platform::Logger& logger_;
  std::shared_ptr<OutputRecorder> output_;
  std::string agentVersion_;
  std::optional<platform::RunLock> lock_;
  std::optional<RunRecord> run_;
};

}  // namespace shelvo
