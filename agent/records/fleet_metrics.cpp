#include "agent/records/fleet_metrics.h"

#include <charconv>
#include <limits>
#include <map>

namespace shelvo {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

platform::Path stateFolder(const platform::Path& root) {
  return root / "var/lib/shelvo";
}

std::optional<long> storedNumber(const platform::Env& env, const platform::Path& file) {
  auto text = env.readFile(file, 64);
  if (!text) return std::nullopt;
  long value = 0;
  auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc()) return std::nullopt;
  return value;
}

platform::Status storeNumber(platform::Env& env, const platform::Path& root, const char* name,
                             long value) {
  auto folder = stateFolder(root);
  if (auto made = env.makeFolders(folder, 0755); !made) return made;
  return env.replaceFile(folder / name, std::to_string(value) + "\n", 0644);
}

std::int64_t unixSeconds(std::chrono::system_clock::time_point moment) {
  return std::chrono::duration_cast<std::chrono::seconds>(moment.time_since_epoch()).count();
}

// A label value as the text format wants it: backslash, quote and line feed escaped.
std::string labelValue(std::string_view value) {
  std::string escaped;
  for (char c : value) {
    if (c == '\\' || c == '"') escaped += '\\';
    if (c == '\n') {
      escaped += "\\n";
      continue;
    }
    escaped += c;
  }
  return escaped;
}

// Writes the series of one metric family in the text exposition format.
class MetricFamily {
 public:
  MetricFamily(std::string& out, const char* name, const char* type, const char* help)
      : out_(out), name_(name) {
    out_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }
  // labels: `command="install"`, or empty for none.
  void sample(const std::string& labels, std::string_view value) {
    out_ += name_;
    if (!labels.empty()) out_ += "{" + labels + "}";
    out_ += " ";
    out_ += value;
    out_ += "\n";
  }
  void sample(const std::string& labels, std::int64_t value) {
    sample(labels, std::to_string(value));
  }

 private:
  std::string& out_;
  const char* name_;
};

std::string commandLabel(const std::string& command) {
  return "command=\"" + labelValue(command) + "\"";
}

struct LastRun {
  std::int64_t ended = 0;
  int agentStatus = 0;
  std::optional<int> scriptStatus;
};

// The totals see every run; the records leave out a skip that repeats a reason of the same day,
// so they only stand in for a command the totals do not know yet (runs of an older version).
void renderLastRuns(std::string& out, const std::vector<RunRecord>& runs, const RunTotals& totals) {
  std::map<std::string, LastRun> last;
  for (const auto& run : runs)
    last[run.command] = {unixSeconds(run.ended), run.agentStatus, run.scriptStatus};
  for (const auto& [command, total] : totals) {
    if (total.lastAttempt && total.lastStatus)
      last[command] = {*total.lastAttempt, *total.lastStatus, total.lastScriptStatus};
  }
  if (last.empty()) return;
  MetricFamily ended(out, "shelvo_last_run_timestamp_seconds", "gauge",
                     "When the last run of a command ended.");
  for (const auto& [command, run] : last) ended.sample(commandLabel(command), run.ended);
  MetricFamily exit(out, "shelvo_last_run_exit_status", "gauge",
                    "The agent's exit status in the last run.");
  for (const auto& [command, run] : last) exit.sample(commandLabel(command), run.agentStatus);
  MetricFamily script(out, "shelvo_last_run_script_status", "gauge",
                      "The script's exit status in the last run that ran one.");
  for (const auto& [command, run] : last) {
    if (run.scriptStatus) script.sample(commandLabel(command), *run.scriptStatus);
  }
}

void renderTotals(std::string& out, const RunTotals& totals) {
  if (totals.empty()) return;
  MetricFamily success(out, "shelvo_last_success_timestamp_seconds", "gauge",
                       "When the last successful run of a command ended (absent: none yet).");
  for (const auto& [command, total] : totals) {
    if (total.lastSuccess) success.sample(commandLabel(command), *total.lastSuccess);
  }
  MetricFamily attempt(out, "shelvo_last_attempt_timestamp_seconds", "gauge",
                       "When the last run of a command ended, whatever its outcome.");
  for (const auto& [command, total] : totals) {
    if (total.lastAttempt) attempt.sample(commandLabel(command), *total.lastAttempt);
  }
  MetricFamily runs(out, "shelvo_runs_total", "counter", "Runs of a command, by outcome.");
  for (const auto& [command, total] : totals) {
    for (const auto& [outcome, count] : total.runsByOutcome) {
      runs.sample(commandLabel(command) + ",outcome=\"" + labelValue(outcome) + "\"",
                  std::to_string(count));
    }
  }
  MetricFamily failures(out, "shelvo_consecutive_failures", "gauge",
                        "Failed runs of a command since its last success; skips do not count.");
  for (const auto& [command, total] : totals) {
    failures.sample(commandLabel(command), std::to_string(total.consecutiveFailures));
  }
}

}  // namespace

std::string renderMetrics(const FleetState& state) {
  std::string out;
  renderLastRuns(out, state.runs, state.totals);
  renderTotals(out, state.totals);
  if (state.updatesAvailable) {
    MetricFamily(out, "shelvo_updates_available", "gauge", "App updates the last check found.")
        .sample("", *state.updatesAvailable);
  }
  if (state.scheduleEnabled) {
    MetricFamily(out, "shelvo_schedule_enabled", "gauge",
                 "Whether the update schedule is enabled (1) or not.")
        .sample("", *state.scheduleEnabled ? 1 : 0);
  }
  if (state.updateIntervalDays) {
    // A stored interval too large to count in seconds is as good as never.
    std::int64_t seconds = 0;
    if (__builtin_mul_overflow(std::int64_t{*state.updateIntervalDays}, kSecondsPerDay, &seconds))
      seconds = *state.updateIntervalDays < 0 ? std::numeric_limits<std::int64_t>::min()
                                              : std::numeric_limits<std::int64_t>::max();
    MetricFamily(out, "shelvo_update_interval_seconds", "gauge",
                 "UpdateInterval as the last update run read it; 0 when unset.")
        .sample("", seconds);
  }
  if (!state.version.empty()) {
    MetricFamily(out, "shelvo_build_info", "gauge", "The agent's version, as a label.")
        .sample("version=\"" + labelValue(state.version) + "\"", 1);
  }
  return out;
}

FleetState loadFleetState(const platform::Env& env, const platform::Path& root) {
  FleetState state;
  state.runs = loadRunRecords(env, runRecordFolder(root));
  state.totals = loadRunTotals(env, root);
  state.updatesAvailable = storedNumber(env, stateFolder(root) / "updates-available");
  if (auto enabled = storedNumber(env, stateFolder(root) / "schedule-enabled"))
    state.scheduleEnabled = *enabled != 0;
  state.updateIntervalDays = storedNumber(env, stateFolder(root) / "update-interval-days");
  return state;
}

platform::Status storeUpdatesAvailable(platform::Env& env, const platform::Path& root, long count) {
  return storeNumber(env, root, "updates-available", count);
}

platform::Status storeScheduleEnabled(platform::Env& env, const platform::Path& root,
                                      bool enabled) {
  return storeNumber(env, root, "schedule-enabled", enabled ? 1 : 0);
}

platform::Status storeUpdateInterval(platform::Env& env, const platform::Path& root, long days) {
  return storeNumber(env, root, "update-interval-days", days);
}

platform::Status publishMetrics(platform::Env& env, const platform::Path& root,
                                const std::string& version) {
  auto folder = root / "var/lib/prometheus/node-exporter";
  if (!env.isFolder(folder)) return platform::success();
  auto state = loadFleetState(env, root);
  state.version = version;
  // The collector reads *.prom; the temporary file beside it has another name until renamed.
  return env.replaceFile(folder / "shelvo.prom", renderMetrics(state), 0644);
}

}  // namespace shelvo
