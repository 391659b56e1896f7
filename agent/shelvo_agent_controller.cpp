#include "agent/shelvo_agent_controller.h"

#include <cstdlib>

#include "agent/configuration.h"

namespace shelvo {
namespace {

// A layer root may not trust is skipped with one error entry naming the file and why.
std::optional<platform::Preferences> reportingUntrustedLayers(
    std::optional<platform::Preferences> suite, const platform::Logger& logger) {
  if (suite) {
    suite->reportUntrustedLayersTo([logger](const std::string& file, const std::string& reason) {
      logger.error("Skipping the preference file %{public}s: %{public}s", {file, reason});
    });
  }
  return suite;
}

std::optional<platform::Preferences> openSuite(const AgentPlatform& platform, std::string name,
                                               const platform::Logger& logger) {
  std::optional<std::string> mainBundleId;
  if (platform.mainBundle) mainBundleId = platform.mainBundle->bundleIdentifier();
  return reportingUntrustedLayers(
      platform::Preferences::openSuite(std::move(name), platform.root, platform.user, mainBundleId),
      logger);
}

// The standard user defaults are the domain of the program's own bundle; a program outside a
// bundle has none.
std::optional<platform::Preferences> standardDefaults(const AgentPlatform& platform,
                                                      const platform::Logger& logger) {
  if (!platform.mainBundle) return std::nullopt;
  auto identifier = platform.mainBundle->bundleIdentifier();
  if (!identifier) return std::nullopt;
  return reportingUntrustedLayers(platform::Preferences(*identifier, platform.root, platform.user),
                                  logger);
}

}  // namespace

ShelvoAgentController::ShelvoAgentController(AgentPlatform platform,
                                             std::vector<std::string> arguments)
    : agentLogger(platform.log, kSubsystem, "Agent"),
      notifierLogger(platform.log, kSubsystem, "Notifier"),
      launchDaemonLogger(platform.log, kSubsystem, "LaunchDaemon"),
      defaults(standardDefaults(platform, agentLogger)),
      defaultsShelvoAgent(openSuite(platform, kSuiteShelvoAgent, agentLogger)),
      defaultsShelvo(openSuite(platform, kSuiteShelvo, agentLogger)),
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
