#include <cmath>
#include <limits>

#include "agent/configuration.h"
#include "agent/shelvo_agent_controller.h"
#include "platform/power/power_source.h"

namespace shelvo {
namespace {

// "yyyy-MM-dd HH:mm:ss Z" in the local time zone.
std::string displayDate(const platform::Env& env, std::int64_t secondsSince1970) {
  return env.localTimeText(secondsSince1970, "%Y-%m-%d %H:%M:%S %z");
}

// Whole hours from the last update to now, truncated toward zero; negative for a last update
// in the future.
std::int64_t hoursSince(std::int64_t lastUpdated, std::chrono::system_clock::time_point now) {
  double nowSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
  double hours = std::trunc((nowSeconds - static_cast<double>(lastUpdated)) / 3600.0);
  constexpr double kLimit = 9.2e18;  // within int64, whatever a stored value claims
  return static_cast<std::int64_t>(std::clamp(hours, -kLimit, kLimit));
}

}  // namespace

void ShelvoAgentController::runUpdates(bool notification, bool progress, bool scheduled,
                                       const std::string& authorization) {
  report(agentLogger, platform::LogLevel::Default, "Checking for application updates...");
  std::int64_t updateInterval =
      defaultsShelvo ? defaultsShelvo->integerForKey(kUpdateIntervalKey) : 0;
  fleet_.noteUpdateInterval(updateInterval);
  if (scheduled && updateInterval == 0) {
    constexpr const char* kDisabled = "Update schedule is disabled. Skipping updates...";
    agentLogger.log(kDisabled);
    endRun(0, RunOutcome::Disabled, kDisabled);
  }

  // LastUpdated lives in the program's own defaults when it runs from a bundle, else in the
  // agent's suite; there the value 0 is shown as a date, as the store holds it.
  std::int64_t lastUpdated = 0;
  bool never = false;
  if (bundleID) {
    lastUpdated = defaults ? defaults->integerForKey(kLastUpdatedKey) : 0;
    never = lastUpdated == 0;
  } else if (defaultsShelvoAgent) {
    lastUpdated = defaultsShelvoAgent->integerForKey(kLastUpdatedKey);
  } else {
    never = true;
  }
  if (never) {
    report(agentLogger, platform::LogLevel::Default, "Last Updated: Never");
  } else {
    std::string shown = displayDate(*platform_.env, lastUpdated);
    report(agentLogger, platform::LogLevel::Default, "Last Updated: " + shown);
  }

  std::int64_t hours = hoursSince(lastUpdated, platform_.env->now());
  report(agentLogger, platform::LogLevel::Debug,
         "Hours since last update: " + std::to_string(hours));

  std::int64_t intervalDays = updateInterval;
  if (intervalDays < 1) {
    intervalDays = 1;
    report(agentLogger, platform::LogLevel::Debug,
           "Using default update interval in days: " + std::to_string(intervalDays));
  } else {
    report(agentLogger, platform::LogLevel::Debug,
           "Configured update interval in days: " + std::to_string(intervalDays));
  }
  // An interval too large to count in hours can never come due.
  std::int64_t threshold = 0;
  if (__builtin_mul_overflow(intervalDays, std::int64_t{24}, &threshold)) {
    threshold = std::numeric_limits<std::int64_t>::max();
  } else {
    threshold -= 1;
  }
  agentLogger.debug("Update interval in hours: %ld", {threshold});

  if (hours < threshold) {
    constexpr const char* kNotDue = "Skipping updates...";
    report(agentLogger, platform::LogLevel::Default, kNotDue);
    endRun(0, RunOutcome::NotDue, kNotDue);
  }
  // A laptop away from its charger is left alone until it is back, when the operator asks so.
  if (scheduled && defaultsShelvo && defaultsShelvo->boolForKey(kSkipUpdatesOnBatteryKey) &&
      platform::runsOnBattery(*platform_.env, platform_.root)) {
    constexpr const char* kOnBattery = "Running on battery power. Skipping updates...";
    report(agentLogger, platform::LogLevel::Default, kOnBattery);
    endRun(0, RunOutcome::DeferredBattery, kOnBattery);
  }
  report(agentLogger, platform::LogLevel::Debug, "Downloading update information...");
  std::string script = requestUpdateInformation(notification, progress, authorization);
  if (auto ran = runScript(script, "Updating apps..."); !ran) {
    agentLogger.error("Error running updates: %s", {ran.error().message});
    echo("Error running updates: " + ran.error().message);
    endRun(23, RunOutcome::FailedScriptStart, "Error running updates: " + ran.error().message);
  }
  report(agentLogger, platform::LogLevel::Default, "Updates completed!");
}

}  // namespace shelvo
