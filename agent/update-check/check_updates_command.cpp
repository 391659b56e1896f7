#include "agent/records/fleet_metrics.h"
#include "agent/shelvo_agent_controller.h"
#include "agent/update-check/app_update_checker.h"

namespace shelvo {

void ShelvoAgentController::checkForUpdates() {
  AppUpdateChecker checker(platform_);
  if (!checker.fetchAppList()) exit(1);
  checker.detectUpdates();
  if (platform_.user.name == "root") {
    storeUpdatesAvailable(*platform_.env, platform_.root.resolve("/"),
                          static_cast<long>(checker.updatesAvailable.size()));
    publishFleetMetrics();
  }
}

}  // namespace shelvo
