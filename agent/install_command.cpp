#include <algorithm>

#include "agent/shelvo_agent_controller.h"

namespace shelvo {

void ShelvoAgentController::installApp(const std::string& bundleIdentifier, bool notification,
                                       bool dock, bool progress, const Credential& credential,
                                       const std::vector<std::string>& arguments,
                                       bool updateAction) {
  agentLogger.log("Obtaining app information for %{public}s...", {bundleIdentifier});
  bool pontiq = std::find(arguments.begin(), arguments.end(), "--pontiq") != arguments.end();
  auto launch = prepareScriptLaunch();
  std::string script = requestInstallInformation(bundleIdentifier, notification, dock, progress,
                                                 updateAction, pontiq, credential);
  if (auto ran = runScript(script, "Installing app...", std::move(launch)); !ran) {
    const std::string& why = ran.error().message;
    report(agentLogger, platform::LogLevel::Error, "Error installing %{public}s: %s",
           {bundleIdentifier, why});
    endRun(23, RunOutcome::FailedScriptStart, "Error installing " + bundleIdentifier + ": " + why);
  }
}

}  // namespace shelvo
