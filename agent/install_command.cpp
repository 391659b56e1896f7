#include <algorithm>

#include "agent/shelvo_agent_controller.h"

namespace shelvo {

void ShelvoAgentController::installApp(const std::string& bundleIdentifier, bool notification,
                                       bool dock, bool progress, const std::string& authorization,
                                       const std::vector<std::string>& arguments,
                                       bool updateAction) {
  agentLogger.log("Obtaining app information for %{public}s...", {bundleIdentifier});
  bool pontiq = std::find(arguments.begin(), arguments.end(), "--pontiq") != arguments.end();
  std::string script = requestInstallInformation(bundleIdentifier, notification, dock, progress,
                                                 updateAction, pontiq, authorization);
  try {
    runScript(script, "Installing app...");
  } catch (const ScriptLaunchError& error) {
    agentLogger.error("Error installing %{public}s: %s", {bundleIdentifier, error.what()});
    echo("Error installing " + bundleIdentifier + ": " + error.what());
    exit(23);
  }
}

}  // namespace shelvo
