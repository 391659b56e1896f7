#pragma once

#include <optional>
#include <string>
#include <vector>

#include "agent/records/run_totals.h"
#include "base/path.h"
#include "base/result.h"
#include "shared/records/run_record.h"

namespace shelvo {

// What a fleet's monitoring reads: the last run of each command (end time, agent status,
// script status), what each command's runs came to, the updates the last check found, whether
// the schedule is enabled, the update interval the last update run read, and the version.
struct FleetState {
  std::vector<RunRecord> runs;  // oldest first; the last run of a command the totals lack
  RunTotals totals;
  std::optional<long> updatesAvailable;
  std::optional<bool> scheduleEnabled;
  std::optional<long> updateIntervalDays;
  std::string version;  // empty when not known
};

// The state in Prometheus's text exposition format.
std::string renderMetrics(const FleetState& state);

// The state kept between runs under $SHELVO_ROOT/var/lib/shelvo, and the runs recorded there.
FleetState loadFleetState(const platform::Env& env, const platform::Path& root);
platform::Status storeUpdatesAvailable(platform::Env& env, const platform::Path& root, long count);
platform::Status storeScheduleEnabled(platform::Env& env, const platform::Path& root, bool enabled);
// UpdateInterval in days, as an update run read it.
platform::Status storeUpdateInterval(platform::Env& env, const platform::Path& root, long days);

// Rewrites shelvo.prom for node_exporter's textfile collector, atomically, when its folder
// ($SHELVO_ROOT/var/lib/prometheus/node-exporter) exists; otherwise does nothing.
platform::Status publishMetrics(platform::Env& env, const platform::Path& root,
                                const std::string& version);

}  // namespace shelvo
