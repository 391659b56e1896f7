#include "agent/shelvo_agent_controller.h"
#include "agent/update-check/app_update_checker.h"

namespace shelvo {

void ShelvoAgentController::checkForUpdates() {
  AppUpdateChecker checker(platform_);
  if (!checker.fetchAppList()) exit(1);
  checker.detectUpdates();
  fleet_.noteUpdatesAvailable(static_cast<long>(checker.updatesAvailable.size()));
}

}  // namespace shelvo
