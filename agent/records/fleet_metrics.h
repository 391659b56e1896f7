#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"
#include "shared/records/run_record.h"

namespace shelvo {

// What a fleet's monitoring reads: the last run of each command (end time, agent status,
// script status), the updates the last check found, and whether the schedule is enabled.
struct FleetState {
  std::vector<RunRecord> runs;  // oldest first
  std::optional<long> updatesAvailable;
  std::optional<bool> scheduleEnabled;
};

// The state in Prometheus's text exposition format.
std::string renderMetrics(const FleetState& state);

// The state kept between runs under $SHELVO_ROOT/var/lib/shelvo, and the runs recorded there.
FleetState loadFleetState(const platform::Env& env, const platform::Path& root);
platform::Status storeUpdatesAvailable(platform::Env& env, const platform::Path& root, long count);
platform::Status storeScheduleEnabled(platform::Env& env, const platform::Path& root, bool enabled);

// Rewrites shelvo.prom for node_exporter's textfile collector, atomically, when its folder
// ($SHELVO_ROOT/var/lib/prometheus/node-exporter) exists; otherwise does nothing.
platform::Status publishMetrics(platform::Env& env, const platform::Path& root);

}  // namespace shelvo
