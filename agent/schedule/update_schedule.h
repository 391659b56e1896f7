#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "platform/defaults/preferences.h"

namespace shelvo {

// When an update run is due: the interval in days the operator set and the last update. A
// scheduled run is switched off by an interval of 0; any interval below one day counts as one.
// A run is due from the last hour of the interval on, so a timer firing a little early each day
// still updates daily.
class UpdateSchedule {
 public:
  // lastUpdated in seconds since 1970; absent when no update was ever recorded.
  UpdateSchedule(std::int64_t configuredIntervalDays, std::optional<std::int64_t> lastUpdated)
      : configuredIntervalDays_(configuredIntervalDays), lastUpdated_(lastUpdated) {}

  // From the settings: the interval from the shared suite; the last update from the program's
  // own defaults when it runs from a bundle (0 there means none), else from the agent's suite
  // (where 0 is a date like any other).
  static UpdateSchedule read(const std::optional<platform::Preferences>& shared,
                             const std::optional<platform::Preferences>& own,
                             const std::optional<platform::Preferences>& agentSuite,
                             bool runsFromBundle);

  std::int64_t configuredIntervalDays() const { return configuredIntervalDays_; }
  bool switchedOff() const { return configuredIntervalDays_ == 0; }
  // True when the configured interval is unusable and one day is used instead.
  bool usesDefaultInterval() const { return configuredIntervalDays_ < 1; }
  std::int64_t intervalDays() const { return usesDefaultInterval() ? 1 : configuredIntervalDays_; }
  // The hours after the last update from which a run is due; the largest value when the
  // interval is too large to count in hours, so it never comes due.
  std::int64_t thresholdHours() const;

  std::optional<std::int64_t> lastUpdated() const { return lastUpdated_; }
  // Whole hours from the last update (the start of 1970 when there was none) to now, truncated
  // toward zero; negative for a last update in the future.
  std::int64_t hoursSinceLastUpdate(std::chrono::system_clock::time_point now) const;
  bool isDue(std::chrono::system_clock::time_point now) const {
    return hoursSinceLastUpdate(now) >= thresholdHours();
  }

 private:
  std::int64_t configuredIntervalDays_;
  std::optional<std::int64_t> lastUpdated_;
};

}  // namespace shelvo
