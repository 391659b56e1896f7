#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/path.h"
#include "base/result.h"
#include "platform/env/env.h"

namespace shelvo {

// Why a run ended as it did, in the words an operator alerts on. Skips are outcomes too, so
// "deferred" can be told from "dead".
enum class RunOutcome {
  Installed,
  Updated,
  NotDue,
  Disabled,
  DeferredOffline,
  DeferredMetered,
  DeferredBattery,
  Busy,
  FailedService,
  FailedAnswer,
  FailedScriptCheck,
  FailedScriptStart,
  TimedOut,
};
// "installed", "not-due", "failed-script-check", ...
std::string_view outcomeName(RunOutcome outcome);
std::optional<RunOutcome> outcomeNamed(std::string_view name);
// Whether the outcome counts as a success, a skip (neither success nor failure) or a failure.
enum class OutcomeKind { Success, Skip, Failure };
OutcomeKind outcomeKind(RunOutcome outcome);

// What one install, update or scheduled run did, for fleet reporting. Never holds the
// credential: the request's headers are not recorded, and the credential is blanked out of the
// script's output.
struct RunRecord {
  static constexpr std::size_t kTailLines = 50;
  // A kept line is cut after this many bytes: a script may print a megabyte without a newline.
  static constexpr std::size_t kMaxLineBytes = 1024;

  std::string id;       // 32 lowercase hex digits; also SHELVO_RUN_ID in the run's journal entries
  std::string version;  // the agent's
  std::string command;  // "install", "update" or "update-schedule"
  std::optional<std::string> bundleIdentifier;
  std::chrono::system_clock::time_point started;
  std::chrono::system_clock::time_point ended;
  std::optional<long> httpStatus;
  std::optional<int> scriptStatus;
  int agentStatus = 0;
  std::optional<RunOutcome> outcome;
  std::optional<std::string> message;  // what the agent reported when the run failed or skipped
  std::uint64_t outputBytes = 0;
  std::deque<std::string> lastLines;
};

// A new run id: 128 random bits as 32 lowercase hex digits, the form journal fields take.
std::string makeRunId();

std::string encodeRunRecord(const RunRecord& record);
std::optional<RunRecord> decodeRunRecord(std::string_view json);

// $SHELVO_ROOT/var/lib/shelvo/runs
platform::Path runRecordFolder(const platform::Path& root);
// How many records the folder keeps: the newest.
inline constexpr std::size_t kKeptRunRecords = 100;

// Writes the record atomically as <started>-<pid>.json and removes the oldest beyond keep. The
// folder is 0750 and the records 0640, group adm (who may read logs): script output is not for
// every local user. Records an older version left with other modes are set right. Fails also
// when the record is stored but an old one could not be removed or set right.
platform::Status storeRunRecord(platform::Env& env, const RunRecord& record,
                                const platform::Path& folder, std::size_t keep = kKeptRunRecords);
// The same in two steps, so that the record can be written together with other files: the
// folder made and set right, and the record's file as it is to be written; then, once it has
// been, the pruning and setting right.
platform::Result<platform::FileReplacement> prepareRunRecord(platform::Env& env,
                                                             const RunRecord& record,
                                                             const platform::Path& folder);
platform::Status tidyRunRecords(platform::Env& env, const platform::Path& file,
                                const platform::Path& folder, std::size_t keep = kKeptRunRecords);
// The pruning and setting right done before the record is stored, while the run has time to
// spare: the oldest go so that the next record stored makes keep, and that one is stored without
// a tidy.
platform::Status makeRoomForRunRecord(platform::Env& env, const platform::Path& folder,
                                      std::size_t keep = kKeptRunRecords);
// The stored records, oldest first; unreadable files are left out.
std::vector<RunRecord> loadRunRecords(const platform::Env& env, const platform::Path& folder);

}  // namespace shelvo
