#include "agent/records/fleet_reporting.h"

#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "agent/records/fleet_metrics.h"
#include "agent/records/run_journal.h"
#include "agent/records/run_totals.h"

namespace shelvo {
namespace {

constexpr std::chrono::seconds kLockRetryDelay{1};

std::string dayOf(const platform::Env& env, std::chrono::system_clock::time_point time) {
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch());
  return env.localTimeText(seconds.count(), "%Y-%m-%d");
}

}  // namespace

FleetReporting::FleetReporting(const AgentPlatform& platform, const platform::Logger& logger,
                               std::shared_ptr<OutputRecorder> output, std::string agentVersion)
    : platform_(platform),
      logger_(logger),
      output_(std::move(output)),
      agentVersion_(std::move(agentVersion)) {}

RunTurn FleetReporting::beginRun(const std::string& command,
                                 std::optional<std::string> bundleIdentifier, bool scheduled) {
  std::string holder = "pid " + std::to_string(::getpid()) + ", shelvo --" + command +
                       (bundleIdentifier ? " " + *bundleIdentifier : "");
  {
    // The record starts before the wait: a run stopped while it waits is a run all the same.
    std::lock_guard lock(mutex_);
    run_ = RunRecord{};
    run_->id = makeRunId();
    run_->version = agentVersion_;
    run_->command = command;
    run_->bundleIdentifier = std::move(bundleIdentifier);
    run_->started = platform_.env->now();
    announceRunStart(logger_, *run_);
    roomMadeAt_.reset();
  }
  return takeTurn(holder, scheduled);
}

RunTurn FleetReporting::takeTurn(const std::string& holder, bool scheduled) {
  auto lock = platform::RunLock::open(platform_.root.resolve("/run/shelvo/agent.lock"));
  if (!lock) return refuse(lock.error());
  auto taken = lock->tryLock();
  if (!taken) return refuse(taken.error());
  if (!*taken) {
    auto other = lock->holder();
    std::string waitingFor = "the run in progress" + (other ? " (" + *other + ")" : "");
    platform_.errorConsole->printLine("shelvo: waiting for " + waitingFor + " to end");
    platform_.serviceNotifier.status("Waiting for " + waitingFor + " to end");
    if (scheduled) {
      auto tries =
          std::chrono::duration_cast<std::chrono::seconds>(kScheduledLockWait) / kLockRetryDelay;
      for (long i = 0; i < tries && !*taken; ++i) {
        platform_.env->sleepFor(kLockRetryDelay);
        taken = lock->tryLock();
        if (!taken) return refuse(taken.error());
      }
      if (!*taken) return RunTurn::Busy;
    } else if (auto locked = lock->lock(); !locked) {
      return refuse(locked.error());
    }
  }
  if (auto written = lock->writeHolder(holder); !written) {
    logger_.error("Cannot say who holds the run lock: %{public}s", {written.error().message});
  }
  lock_ = std::move(*lock);
  return RunTurn::Taken;
}

RunTurn FleetReporting::refuse(const platform::Error& error) {
  platform_.errorConsole->printLine("shelvo: " + error.message);
  logger_.error("Cannot take the run lock: %{public}s", {error.message});
  // Without its turn the run never began: there is nothing to record or count, but its journal
  // entries still end.
  std::lock_guard lock(mutex_);
  refused_ = true;
  return RunTurn::Refused;
}

void FleetReporting::noteHttpStatus(long status) {
  std::lock_guard lock(mutex_);
  if (run_) run_->httpStatus = status;
}

void FleetReporting::noteScriptStatus(int status) {
  std::lock_guard lock(mutex_);
  if (run_) run_->scriptStatus = status;
}

void FleetReporting::noteOutcome(RunOutcome outcome, std::optional<std::string> message) {
  std::lock_guard lock(mutex_);
  if (!run_) return;
  run_->outcome = outcome;
  run_->message = std::move(message);
}

void FleetReporting::makeRoomForRecord() {
  std::string id;
  {
    std::lock_guard lock(mutex_);
    if (!run_ || refused_) return;
    id = run_->id;
  }
  // Under the lock the records and totals are stored under, so that a busy run's store never
  // meets it half done; the runs counted so far tell the store whether one came meanwhile. What
  // fails here is met again, and reported, by the tidy after the store.
  auto root = platform_.root.resolve("/");
  auto lock = lockRunTotals(*platform_.env, root);
  if (!lock) return;
  {
    // Ended meanwhile by a stop: its store tidies for itself.
    std::lock_guard guard(mutex_);
    if (!run_ || run_->id != id) return;
  }
  auto counted = runsCounted(loadRunTotals(*platform_.env, root));
  if (!makeRoomForRunRecord(*platform_.env, runRecordFolder(root))) return;
  std::lock_guard guard(mutex_);
  if (run_ && run_->id == id) roomMadeAt_ = counted;
}

void FleetReporting::finishRun(int status) {
  std::optional<RunRecord> run;
  bool refused = false;
  std::optional<std::uint64_t> roomMadeAt;
  {
    std::lock_guard lock(mutex_);
    run.swap(run_);
    refused = std::exchange(refused_, false);
    roomMadeAt = roomMadeAt_;
  }
  if (!run) return;
  run->ended = platform_.env->now();
  run->agentStatus = status;
  output_->copyInto(*run);
  announceRunEnd(logger_, *run);
  if (refused) return;
  storeRun(*run, roomMadeAt);
  publishMetrics();
}

void FleetReporting::storeRun(const RunRecord& run, std::optional<std::uint64_t> roomMadeAt) {
  // The record and the totals are written together: one wait for the disk serves both.
  std::vector<platform::FileReplacement> files;
  const auto folder = runRecordFolder(platform_.root.resolve("/"));
  std::optional<platform::Path> record;
  if (!skippedAlreadyToday(run)) {
    if (auto prepared = prepareRunRecord(*platform_.env, run, folder); !prepared) {
      logUnkept(prepared.error());
    } else {
      record = prepared->path;
      files.push_back(std::move(*prepared));
    }
  }
  // Counted whether stored or not: the totals see every run, each skip included.
  auto counted = countIntoRunTotals(*platform_.env, platform_.root.resolve("/"), run);
  if (!counted) {
    logUncounted(counted.error());
  } else {
    files.push_back(counted->totals);
  }
  auto written = platform_.env->replaceFiles(files);
  const bool countStored = counted && written.back();
  // The room made while the script ran still holds unless another run (a busy one) was counted
  // since.
  const bool roomHolds = roomMadeAt && countStored && counted->runsBefore == *roomMadeAt;
  if (record && !written.front()) {
    logUnkept(written.front().error());
  } else if (record && !roomHolds) {
    // A record stored without its count would go unseen by a run that made room: it leaves that
    // room.
    auto keep = countStored ? kKeptRunRecords : kKeptRunRecords - 1;
    if (auto tidied = tidyRunRecords(*platform_.env, *record, folder, keep); !tidied) {
      logUnkept(tidied.error());
    }
  }
  if (counted && !written.back()) logUncounted(written.back().error());
}

void FleetReporting::logUnkept(const platform::Error& error) {
  logger_.error("Cannot keep the run records: %{public}s", {error.message});
}

void FleetReporting::logUncounted(const platform::Error& error) {
  logger_.error("Cannot count the run: %{public}s", {error.message});
}

bool FleetReporting::skippedAlreadyToday(const RunRecord& run) const {
  if (run.command != "update-schedule" || !run.outcome ||
      outcomeKind(*run.outcome) != OutcomeKind::Skip) {
    return false;
  }
  const std::string today = dayOf(*platform_.env, run.started);
  auto stored = loadRunRecords(*platform_.env, runRecordFolder(platform_.root.resolve("/")));
  return std::any_of(stored.begin(), stored.end(), [&](const RunRecord& earlier) {
    return earlier.command == run.command && earlier.outcome == run.outcome &&
           dayOf(*platform_.env, earlier.started) == today;
  });
}

void FleetReporting::noteScheduleState(bool enabled) {
  if (platform_.user.name != "root") return;
  logUnstored(storeScheduleEnabled(*platform_.env, platform_.root.resolve("/"), enabled));
  publishMetrics();
}

void FleetReporting::noteUpdatesAvailable(long count) {
  if (platform_.user.name != "root") return;
  logUnstored(storeUpdatesAvailable(*platform_.env, platform_.root.resolve("/"), count));
  publishMetrics();
}

void FleetReporting::noteUpdateInterval(long days) {
  logUnstored(storeUpdateInterval(*platform_.env, platform_.root.resolve("/"), days));
}

void FleetReporting::logUnstored(const platform::Status& stored) {
  if (!stored) logger_.error("Cannot store the fleet state: %{public}s", {stored.error().message});
}

void FleetReporting::publishMetrics() {
  if (auto published =
          shelvo::publishMetrics(*platform_.env, platform_.root.resolve("/"), agentVersion_);
      !published) {
    logger_.error("Cannot write the metrics file: %{public}s", {published.error().message});
  }
}

}  // namespace shelvo
