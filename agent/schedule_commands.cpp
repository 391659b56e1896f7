#include "agent/configuration.h"
#include "agent/shelvo_agent_controller.h"
#include "platform/service-management/daemon_service.h"

namespace shelvo {
namespace {

using platform::LogLevel;
using platform::ServiceStatus;

}  // namespace

void ShelvoAgentController::openSystemSettingsLoginItems(const std::string& unitName) {
  // There is no settings pane to open: tell the admin what lifts the block.
  print("To allow it, unmask the timer: systemctl unmask " + unitName);
}

void ShelvoAgentController::enableUpdateSchedule() {
  auto service = platform_.services->scheduledService(deamonPlist, platform_.root);
  switch (service->status()) {
    case ServiceStatus::NotRegistered:
      report(launchDaemonLogger, LogLevel::Default,
             "Update schedule is not enabled, trying to enable...");
      break;
    case ServiceStatus::Enabled:
      report(launchDaemonLogger, LogLevel::Default, "Update schedule is already enabled");
      fleet_.noteScheduleState(true);
      exit(0);
    case ServiceStatus::RequiresApproval:
      report(launchDaemonLogger, LogLevel::Default, "Update schedule requires user approval");
      openSystemSettingsLoginItems(service->unitName());
      exit(0);
    case ServiceStatus::NotFound:
      report(launchDaemonLogger, LogLevel::Error, "Update schedule not found");
      break;
    case ServiceStatus::Unknown:
      report(launchDaemonLogger, LogLevel::Error, "Unknown error while enabling update schedule");
      exit(0);
  }
  if (auto registered = service->registerService(); !registered) {
    const std::string description = registered.error().fullDescription();
    report(launchDaemonLogger, LogLevel::Error, "Error enabling update schedule");
    report(launchDaemonLogger, LogLevel::Error, "%{public}@", {description});
    exit(0);
  }
  report(launchDaemonLogger, LogLevel::Default, "Update schedule is successfully enabled");
  fleet_.noteScheduleState(true);
  exit(0);
}

void ShelvoAgentController::disableUpdateSchedule() {
  auto service = platform_.services->scheduledService(deamonPlist, platform_.root);
  if (auto unregistered = service->unregisterService(); !unregistered) {
    const std::string& description = unregistered.error().message;
    report(launchDaemonLogger, LogLevel::Error, "Error disabling update schedule: %{public}s",
           {description});
  } else {
    report(launchDaemonLogger, LogLevel::Default, "Update schedule is successfully disabled");
    fleet_.noteScheduleState(false);
  }
  exit(0);
}

void ShelvoAgentController::printUpdateScheduleStatus() {
  auto service = platform_.services->scheduledService(deamonPlist, platform_.root);
  switch (service->status()) {
    case ServiceStatus::NotRegistered:
      print("Update schedule is disabled. Run 'shelvo --schedule-enable' to enable");
      fleet_.noteScheduleState(false);
      return;
    case ServiceStatus::Enabled: {
      std::int64_t interval =
          defaultsShelvo ? defaultsShelvo->integerForKey(kUpdateIntervalKey) : 0;
      fleet_.noteScheduleState(interval >= 1);
      if (interval >= 1) {
        print("Update schedule is enabled");
        print("Update interval in days: " + std::to_string(interval));
      } else {
        print("Update schedule is disabled. Set 'UpdateInterval' to a value more than 0 to enable");
      }
      return;
    }
    case ServiceStatus::RequiresApproval:
      print("Update Schedule requires user approval in System Settings");
      return;
    case ServiceStatus::NotFound:
      print("Update schedule not found");
      return;
    case ServiceStatus::Unknown:
      print("Update schedule is unknown");
      return;
  }
}

}  // namespace shelvo
