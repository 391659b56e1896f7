#include "agent/schedule/update_schedule.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "agent/configuration.h"

namespace shelvo {

UpdateSchedule UpdateSchedule::read(const std::optional<platform::Preferences>& shared,
                                    const std::optional<platform::Preferences>& own,
                                    const std::optional<platform::Preferences>& agentSuite,
                                    bool runsFromBundle) {
  std::int64_t interval = shared ? shared->integerForKey(kUpdateIntervalKey) : 0;
  std::optional<std::int64_t> lastUpdated;
  if (runsFromBundle) {
    std::int64_t stored = own ? own->integerForKey(kLastUpdatedKey) : 0;
    if (stored != 0) lastUpdated = stored;
  } else if (agentSuite) {
    lastUpdated = agentSuite->integerForKey(kLastUpdatedKey);
  }
  return UpdateSchedule(interval, lastUpdated);
}

std::int64_t UpdateSchedule::thresholdHours() const {
  std::int64_t hours = 0;
  if (__builtin_mul_overflow(intervalDays(), std::int64_t{24}, &hours))
    return std::numeric_limits<std::int64_t>::max();
  return hours - 1;
}

std::int64_t UpdateSchedule::hoursSinceLastUpdate(std::chrono::system_clock::time_point now) const {
  double nowSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
  double elapsed = nowSeconds - static_cast<double>(lastUpdated_.value_or(0));
  double hours = std::trunc(elapsed / 3600.0);
  constexpr double kLimit = 9.2e18;  // within int64, whatever a stored value claims
  return static_cast<std::int64_t>(std::clamp(hours, -kLimit, kLimit));
}

}  // namespace shelvo
