#include "agent/shelvo_agent_controller.h"

#include <unistd.h>

#include <cstdlib>

#include "agent/configuration.h"
#include "agent/records/fleet_metrics.h"

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
      scriptOutput_(std::make_shared<OutputRecorder>(
          platform_.echoLoggedLines ? platform_.console : std::make_shared<platform::NoConsole>())),
      scriptRunner_(agentLogger, scriptOutput_, platform_.zshPath) {}

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

platform::Status ShelvoAgentController::runScript(std::string_view script,
                                                  std::string_view progressMessage) {
  auto outcome = scriptRunner_.runScript(script, progressMessage);
  if (!outcome) return outcome.error();
  if (!outcome->ran()) exit(outcome->refusalStatus());
  if (runRecord_) runRecord_->scriptStatus = outcome->exitStatus;
  return platform::success();
}

void ShelvoAgentController::beginRun(const std::string& command,
                                     std::optional<std::string> bundleIdentifier) {
  std::string holder = "pid " + std::to_string(::getpid()) + ", shelvo --" + command +
                       (bundleIdentifier ? " " + *bundleIdentifier : "");
  auto lock = platform::RunLock::acquire(
      platform_.root.resolve("/run/shelvo/agent.lock"), holder, [&](const std::string& other) {
        platform_.errorConsole->printLine("shelvo: waiting for the run in progress (" +
                                          (other.empty() ? "unknown" : other) + ") to end");
      });
  if (lock) {
    runLock_ = std::move(*lock);
  } else {
    agentLogger.error("Cannot take the run lock: %{public}s", {lock.error().message});
  }
  runRecord_ = RunRecord{};
  runRecord_->command = command;
  runRecord_->bundleIdentifier = std::move(bundleIdentifier);
  runRecord_->started = platform_.env->now();
}

void ShelvoAgentController::finishRun(int status) {
  runRecord_->ended = platform_.env->now();
  runRecord_->agentStatus = status;
  scriptOutput_->copyInto(*runRecord_);
  auto folder = runRecordFolder(platform_.root.resolve("/"));
  if (auto stored = storeRunRecord(*platform_.env, *runRecord_, folder); !stored) {
    agentLogger.error("Cannot store the run record: %{public}s", {stored.error().message});
  }
  runRecord_.reset();
  publishFleetMetrics();
}

void ShelvoAgentController::publishFleetMetrics() {
  if (auto published = publishMetrics(*platform_.env, platform_.root.resolve("/")); !published) {
    agentLogger.error("Cannot write the metrics file: %{public}s", {published.error().message});
  }
}

void ShelvoAgentController::print(std::string_view line) {
  platform_.console->printLine(line);
}

void ShelvoAgentController::echo(std::string_view line) {
  if (platform_.echoLoggedLines) print(line);
}

void ShelvoAgentController::report(const platform::Logger& logger, platform::LogLevel level,
                                   std::string_view message) {
  logger.write(level, "%{public}s", {message});
  echo(message);
}

void ShelvoAgentController::printAndLog(platform::LogLevel level, std::string_view line) {
  echo(line);
  agentLogger.write(level, "%s", {line});
}

void ShelvoAgentController::exit(int status) {
  if (runRecord_) finishRun(status);
  platform_.env->endProcess(status);
  std::abort();  // endProcess never returns
}

}  // namespace shelvo
