#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "agent/agent_platform.h"
#include "platform/log/logger.h"
#include "platform/system/run_lock.h"
#include "shared/records/output_recorder.h"
#include "shared/records/run_record.h"

namespace shelvo {

// Whether a run got its turn under the run lock.
enum class RunTurn {
  Taken,
  Busy,     // a scheduled run waited its longest for another run to end
  Refused,  // the lock is not safe to use; the run does not begin
};

// What the fleet sees of this machine: runs that change the system take turns under the run
// lock and are each recorded when the process ends; the metrics file follows every change.
// Safe to call from any thread: a run may be ended from the thread a stop signal arrives on.
class FleetReporting {
 public:
  FleetReporting(const AgentPlatform& platform, const platform::Logger& logger,
                 std::shared_ptr<OutputRecorder> output, std::string agentVersion);

  // Starts the record of an install, update or scheduled update and logs the start, then waits
  // for the run lock: a manual run as long as it takes, a scheduled one at most
  // kScheduledLockWait.
  RunTurn beginRun(const std::string& command, std::optional<std::string> bundleIdentifier,
                   bool scheduled);
  // What the run did, as it learns it.
  void noteHttpStatus(long status);
  void noteScriptStatus(int status);
  void noteOutcome(RunOutcome outcome, std::optional<std::string> message = std::nullopt);
  // While the run's script runs: the oldest record goes now rather than after the run's own is
  // stored, where the process's end would wait for it.
  void makeRoomForRecord();
  // Logs the run's end, stores its record with the status the process ends with, counts it and
  // publishes the metrics. A skipped scheduled run is stored once per reason and day (hourly
  // skips would push out every record worth reading) but counted every time. A run refused its
  // turn only logs its end.
  void finishRun(int status);

  // Root keeps fleet state; for a user these change nothing.
  void noteScheduleState(bool enabled);
  void noteUpdatesAvailable(long count);
  // UpdateInterval in days, as an update run read it; published with the run's end.
  void noteUpdateInterval(long days);

  // How long a scheduled run waits for another run to end before it is skipped as busy: a
  // quarter of the service's two-hour bound, so the update itself keeps the rest.
  static constexpr std::chrono::minutes kScheduledLockWait{30};

 private:
  RunTurn takeTurn(const std::string& holder, bool scheduled);
  RunTurn refuse(const platform::Error& error);
  // Whether a skip of the same reason was stored today already.
  bool skippedAlreadyToday(const RunRecord& run) const;
  // Writes the ended run's record (unless it is a skip already recorded today) and counts it.
  // roomMadeAt: the runs counted when room was made for it, if it was.
  void storeRun(const RunRecord& run, std::optional<std::uint64_t> roomMadeAt);
  void logUnkept(const platform::Error& error);
  void logUncounted(const platform::Error& error);
  void publishMetrics();
  // Logs a failure to keep a piece of the state the metrics are made from.
  void logUnstored(const platform::Status& stored);

  const AgentPlatform& platform_;
  const platform::Logger& logger_;
  std::shared_ptr<OutputRecorder> output_;
  std::string agentVersion_;
  std::optional<platform::RunLock> lock_;
  std::mutex mutex_;
  std::optional<RunRecord> run_;
  bool refused_ = false;  // the run was refused its turn
  // The runs counted when the oldest record went while the script ran: the store then needs no
  // tidy unless another run has been counted since.
  std::optional<std::uint64_t> roomMadeAt_;
};

}  // namespace shelvo
