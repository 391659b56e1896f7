#include "agent/records/fleet_metrics.h"

#include <charconv>
#include <map>

namespace shelvo {
namespace {

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

void gauge(std::string& out, const char* name, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
}

}  // namespace

std::string renderMetrics(const FleetState& state) {
  std::map<std::string, const RunRecord*> last;
  for (const auto& run : state.runs) last[run.command] = &run;
  std::string out;
  if (!last.empty()) {
    gauge(out, "shelvo_last_run_timestamp_seconds", "When the last run of a command ended.");
    for (const auto& [command, run] : last) {
      auto seconds =
          std::chrono::duration_cast<std::chrono::seconds>(run->ended.time_since_epoch()).count();
      out += "shelvo_last_run_timestamp_seconds{command=\"" + command + "\"} " +
             std::to_string(seconds) + "\n";
    }
    gauge(out, "shelvo_last_run_exit_status", "The agent's exit status in the last run.");
    for (const auto& [command, run] : last) {
      out += "shelvo_last_run_exit_status{command=\"" + command + "\"} " +
             std::to_string(run->agentStatus) + "\n";
    }
    gauge(out, "shelvo_last_run_script_status",
          "The script's exit status in the last run that ran one.");
    for (const auto& [command, run] : last) {
      if (run->scriptStatus) {
        out += "shelvo_last_run_script_status{command=\"" + command + "\"} " +
               std::to_string(*run->scriptStatus) + "\n";
      }
    }
  }
  if (state.updatesAvailable) {
    gauge(out, "shelvo_updates_available", "App updates the last check found.");
    out += "shelvo_updates_available " + std::to_string(*state.updatesAvailable) + "\n";
  }
  if (state.scheduleEnabled) {
    gauge(out, "shelvo_schedule_enabled", "Whether the update schedule is enabled (1) or not.");
    out += std::string("shelvo_schedule_enabled ") + (*state.scheduleEnabled ? "1" : "0") + "\n";
  }
  return out;
}

FleetState loadFleetState(const platform::Env& env, const platform::Path& root) {
  FleetState state;
  state.runs = loadRunRecords(env, runRecordFolder(root));
  state.updatesAvailable = storedNumber(env, stateFolder(root) / "updates-available");
  if (auto enabled = storedNumber(env, stateFolder(root) / "schedule-enabled"))
    state.scheduleEnabled = *enabled != 0;
  return state;
}

platform::Status storeUpdatesAvailable(platform::Env& env, const platform::Path& root, long count) {
  return storeNumber(env, root, "updates-available", count);
}

platform::Status storeScheduleEnabled(platform::Env& env, const platform::Path& root,
                                      bool enabled) {
  return storeNumber(env, root, "schedule-enabled", enabled ? 1 : 0);
}

platform::Status publishMetrics(platform::Env& env, const platform::Path& root) {
  auto folder = root / "var/lib/prometheus/node-exporter";
  if (!env.isFolder(folder)) return platform::success();
  // The collector reads *.prom; the temporary file beside it has another name until renamed.
  return env.replaceFile(folder / "shelvo.prom", renderMetrics(loadFleetState(env, root)), 0644);
}

}  // namespace shelvo
