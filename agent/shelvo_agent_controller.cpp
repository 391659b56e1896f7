#include "agent/shelvo_agent_controller.h"

#include <cstdlib>

#include "agent/configuration.h"

namespace shelvo {
namespace {

std::optional<platform::Preferences> openSuite(const AgentPlatform& platform, std::string name) {
  std::optional<std::string> mainBundleId;
  if (platform.mainBundle) mainBundleId = platform.mainBundle->bundleIdentifier();
  return platform::Preferences::openSuite(std::move(name), platform.root, platform.user,
                                          mainBundleId);
}

// The standard user defaults are the domain of the program's own bundle; a program outside a
// bundle has none.
std::optional<platform::Preferences> standardDefaults(const AgentPlatform& platform) {
  if (!platform.mainBundle) return std::nullopt;
  auto identifier = platform.mainBundle->bundleIdentifier();
  if (!identifier) return std::nullopt;
  return platform::Preferences(*identifier, platform.root, platform.user);
}

}  // namespace

ShelvoAgentController::ShelvoAgentController(AgentPlatform platform,
                                             std::vector<std::string> arguments)
    : agentLogger(platform.log, kSubsystem, "Agent"),
      notifierLogger(platform.log, kSubsystem, "Notifier"),
      launchDaemonLogger(platform.log, kSubsystem, "LaunchDaemon"),
      defaults(standardDefaults(platform)),
      defaultsShelvoAgent(openSuite(platform, kSuiteShelvoAgent)),
      defaultsShelvo(openSuite(platform, kSuiteShelvo)),
      bundle(platform::Bundle::atPath(platform.root.resolve(kAgentBundlePath))),
      bundleID(platform.mainBundle ? platform.mainBundle->bundleIdentifier() : std::nullopt),
      platform_(std::move(platform)),
      arguments_(std::move(arguments)),
      scriptRunner_(agentLogger, platform_.console, platform_.zshPath) {}

std::string ShelvoAgentController::agentVersion() const {
  if (bundle) {
    if (auto version = bundle->infoString("CFBundleShortVersionString")) return *version;
  }
  return "Unknown";
}

std::string ShelvoAgentController::agentBuild() const {
  if (bundle) {
    if (auto build = bundle->infoString("CFBundleVersion")) return *build;
  }
  return "Unknown";
}

void ShelvoAgentController::runScript(std::string_view script, std::string_view progressMessage) {
  scriptRunner_.runScript(script, progressMessage);
}

void ShelvoAgentController::print(std::string_view line) {
  platform_.console->printLine(line);
}

void ShelvoAgentController::printAndLog(platform::LogLevel level, std::string_view line) {
  print(line);
  agentLogger.write(level, "%s", {line});
}

void ShelvoAgentController::exit(int status) {
  platform_.endProcess(status);
  std::abort();  // endProcess never returns
}

}  // namespace shelvo
