#include "agent/records/run_totals.h"

#include <limits>
#include <nlohmann/json.hpp>

#include "platform/system/run_lock.h"

namespace shelvo {
namespace {

constexpr std::size_t kMaxTotalsFile = 1024 * 1024;

platform::Path totalsFile(const platform::Path& root) {
  return root / "var/lib/shelvo/run-totals.json";
}

std::int64_t unixSeconds(std::chrono::system_clock::time_point moment) {
  return std::chrono::duration_cast<std::chrono::seconds>(moment.time_since_epoch()).count();
}

}  // namespace

std::string_view outcomeLabel(const RunRecord& run) {
  return run.outcome ? outcomeName(*run.outcome) : "unknown";
}

OutcomeKind runKind(const RunRecord& run) {
  if (run.outcome) return outcomeKind(*run.outcome);
  return run.agentStatus == 0 ? OutcomeKind::Success : OutcomeKind::Failure;
}

void countRun(RunTotals& totals, const RunRecord& run) {
  auto& command = totals[run.command];
  ++command.runsByOutcome[std::string(outcomeLabel(run))];
  command.lastAttempt = unixSeconds(run.ended);
  command.lastStatus = run.agentStatus;
  command.lastScriptStatus = run.scriptStatus;
  switch (runKind(run)) {
    case OutcomeKind::Success:
      command.lastSuccess = unixSeconds(run.ended);
      command.consecutiveFailures = 0;
      break;
    case OutcomeKind::Failure:
      ++command.consecutiveFailures;
      break;
    case OutcomeKind::Skip:
      break;
  }
}

std::uint64_t runsCounted(const RunTotals& totals) {
  std::uint64_t runs = 0;
  for (const auto& [name, command] : totals) {
    for (const auto& [outcome, count] : command.runsByOutcome) runs += count;
  }
  return runs;
}

std::string encodeRunTotals(const RunTotals& totals) {
  nlohmann::json json = nlohmann::json::object();
  for (const auto& [name, command] : totals) {
    nlohmann::json entry = {{"runs", command.runsByOutcome},
                            {"consecutive_failures", command.consecutiveFailures}};
    if (command.lastSuccess) entry["last_success"] = *command.lastSuccess;
    if (command.lastAttempt) entry["last_attempt"] = *command.lastAttempt;
    if (command.lastStatus) entry["last_status"] = *command.lastStatus;
    if (command.lastScriptStatus) entry["last_script_status"] = *command.lastScriptStatus;
    json[name] = std::move(entry);
  }
  return json.dump(2) + "\n";
}

RunTotals decodeRunTotals(std::string_view text) {
  RunTotals totals;
  auto json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return totals;
  auto number = [](const nlohmann::json& object, const char* key) -> std::optional<std::int64_t> {
    auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer()) return std::nullopt;
    return found->get<std::int64_t>();
  };
  auto status = [&](const nlohmann::json& object, const char* key) -> std::optional<int> {
    auto value = number(object, key);
    if (!value || *value < std::numeric_limits<int>::min() ||
        *value > std::numeric_limits<int>::max())
      return std::nullopt;
    return static_cast<int>(*value);
  };
  for (const auto& [name, entry] : json.items()) {
    if (!entry.is_object()) continue;
    auto& command = totals[name];
    if (auto runs = entry.find("runs"); runs != entry.end() && runs->is_object()) {
      for (const auto& [outcome, count] : runs->items()) {
        if (count.is_number_unsigned()) command.runsByOutcome[outcome] = count.get<std::uint64_t>();
      }
    }
    command.lastSuccess = number(entry, "last_success");
    command.lastAttempt = number(entry, "last_attempt");
    command.lastStatus = status(entry, "last_status");
    command.lastScriptStatus = status(entry, "last_script_status");
    command.consecutiveFailures = static_cast<std::uint64_t>(
        std::max<std::int64_t>(0, number(entry, "consecutive_failures").value_or(0)));
  }
  return totals;
}

RunTotals loadRunTotals(const platform::Env& env, const platform::Path& root) {
  auto text = env.readFile(totalsFile(root), kMaxTotalsFile);
  return text ? decodeRunTotals(*text) : RunTotals{};
}

platform::Status addToRunTotals(platform::Env& env, const platform::Path& root,
                                const RunRecord& run) {
  auto counted = countIntoRunTotals(env, root, run);
  if (!counted) return counted.error();
  const auto& totals = counted->totals;
  return env.replaceFile(totals.path, totals.bytes, totals.mode);
}

platform::Result<platform::RunLock> lockRunTotals(platform::Env& env, const platform::Path& root) {
  if (auto made = env.makeFolders(totalsFile(root).parent_path(), 0755); !made) {
    return made.error();
  }
  // Taken beside the run lock, where only root can open a file: a lock any user could open is
  // one any user could hold, and every run waits here while it still holds its turn. A run that
  // found the run lock busy counts here too, so the run lock alone would not do.
  auto lock = platform::RunLock::open(root / "run/shelvo/totals.lock");
  if (!lock) return lock.error();
  if (auto locked = lock->lock(); !locked) return locked.error();
  return std::move(*lock);
}

platform::Result<CountedRun> countIntoRunTotals(platform::Env& env, const platform::Path& root,
                                                const RunRecord& run) {
  auto file = totalsFile(root);
  auto lock = lockRunTotals(env, root);
  if (!lock) return lock.error();
  auto totals = loadRunTotals(env, root);
  auto runsBefore = runsCounted(totals);
  countRun(totals, run);
  return CountedRun{std::move(*lock), {file, encodeRunTotals(totals), 0644, {}}, runsBefore};
}

}  // namespace shelvo
