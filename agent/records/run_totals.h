#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "base/path.h"
#include "base/result.h"
#include "platform/env/env.h"
#include "platform/system/run_lock.h"
#include "shared/records/run_record.h"

namespace shelvo {

// What the runs of one command came to over the machine's life. Run records are pruned to the
// newest 100; these are never pruned, so counters only ever grow.
struct CommandTotals {
  std::map<std::string, std::uint64_t> runsByOutcome;
  std::optional<std::int64_t> lastSuccess;  // when the last successful run ended, Unix seconds
  std::optional<std::int64_t> lastAttempt;  // when the last run of any outcome ended
  std::optional<int> lastStatus;            // the agent's exit status in that run
  std::optional<int> lastScriptStatus;      // the script's, when that run ran one
  std::uint64_t consecutiveFailures = 0;    // since the last success; skips leave it alone
};
// By command: "install", "update", "update-schedule".
using RunTotals = std::map<std::string, CommandTotals>;

// The label a run counts under: its outcome's name, or "unknown" for a run that has none.
std::string_view outcomeLabel(const RunRecord& run);
// Its outcome's kind; a run without an outcome is a success when the agent ended with 0 and a
// failure otherwise.
OutcomeKind runKind(const RunRecord& run);
// Counts one ended run.
void countRun(RunTotals& totals, const RunRecord& run);
// How many runs the totals have counted, of every command and outcome.
std::uint64_t runsCounted(const RunTotals& totals);

std::string encodeRunTotals(const RunTotals& totals);
// Whatever of the text is well formed; nothing for text that is not a JSON object.
RunTotals decodeRunTotals(std::string_view text);

// $SHELVO_ROOT/var/lib/shelvo/run-totals.json
RunTotals loadRunTotals(const platform::Env& env, const platform::Path& root);
// Counts the run into the stored totals, under a lock, so that no run's count is lost.
platform::Status addToRunTotals(platform::Env& env, const platform::Path& root,
                                const RunRecord& run);

// The same in two steps, so that the totals can be written together with other files: the lock
// taken and the totals with the run counted, to be written while the lock is held.
struct CountedRun {
  platform::RunLock lock;
  platform::FileReplacement totals;
  std::uint64_t runsBefore = 0;  // runsCounted of the totals before this run
};
platform::Result<CountedRun> countIntoRunTotals(platform::Env& env, const platform::Path& root,
                                                const RunRecord& run);
// The lock the totals, and the records beside them, are written under; folders made as needed.
platform::Result<platform::RunLock> lockRunTotals(platform::Env& env, const platform::Path& root);

}  // namespace shelvo
