#include "agent/configuration.h"
#include "agent/schedule/update_schedule.h"
#include "agent/shelvo_agent_controller.h"
#include "platform/power/power_source.h"

namespace shelvo {
namespace {

// "yyyy-MM-dd HH:mm:ss Z" in the local time zone.
std::string displayDate(const platform::Env& env, std::int64_t secondsSince1970) {
  return env.localTimeText(secondsSince1970, "%Y-%m-%d %H:%M:%S %z");
}

}  // namespace

void ShelvoAgentController::runUpdates(bool notification, bool progress, bool scheduled,
                                       const Credential& credential) {
  report(agentLogger, platform::LogLevel::Default, "Checking for application updates...");
  const UpdateSchedule schedule =
      UpdateSchedule::read(defaultsShelvo, defaults, defaultsShelvoAgent, bundleID.has_value());
  fleet_.noteUpdateInterval(schedule.configuredIntervalDays());
  if (scheduled && schedule.switchedOff()) {
    constexpr const char* kDisabled = "Update schedule is disabled. Skipping updates...";
    agentLogger.log(kDisabled);
    endRun(0, RunOutcome::Disabled, kDisabled);
  }
  const auto now = platform_.env->now();
  reportSchedule(schedule, now);
  endRunUnlessDue(schedule, now, scheduled);
  report(agentLogger, platform::LogLevel::Debug, "Downloading update information...");
  auto launch = prepareScriptLaunch();
  std::string script = requestUpdateInformation(notification, progress, credential);
  if (auto ran = runScript(script, "Updating apps...", std::move(launch)); !ran) {
    report(agentLogger, platform::LogLevel::Error, "Error running updates: %s",
           {ran.error().message});
    endRun(23, RunOutcome::FailedScriptStart, "Error running updates: " + ran.error().message);
  }
  report(agentLogger, platform::LogLevel::Default, "Updates completed!");
}

void ShelvoAgentController::reportSchedule(const UpdateSchedule& schedule,
                                           std::chrono::system_clock::time_point now) {
  auto lastUpdated = schedule.lastUpdated();
  report(agentLogger, platform::LogLevel::Default,
         "Last Updated: " + (lastUpdated ? displayDate(*platform_.env, *lastUpdated) : "Never"));
  report(agentLogger, platform::LogLevel::Debug,
         "Hours since last update: " + std::to_string(schedule.hoursSinceLastUpdate(now)));
  report(agentLogger, platform::LogLevel::Debug,
         (schedule.usesDefaultInterval() ? "Using default update interval in days: "
                                         : "Configured update interval in days: ") +
             std::to_string(schedule.intervalDays()));
  agentLogger.debug("Update interval in hours: %ld", {schedule.thresholdHours()});
}

void ShelvoAgentController::endRunUnlessDue(const UpdateSchedule& schedule,
                                            std::chrono::system_clock::time_point now,
                                            bool scheduled) {
  if (!schedule.isDue(now)) {
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
}

}  // namespace shelvo
