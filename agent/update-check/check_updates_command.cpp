#include "agent/shelvo_agent_controller.h"
#include "agent/update-check/app_update_checker.h"

namespace shelvo {

void ShelvoAgentController::checkForUpdates() {
  AppUpdateChecker checker(platform_);
  checker.fetchAppList();
  checker.detectUpdates();
}

}  // namespace shelvo
