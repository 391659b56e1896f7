#include "agent/shelvo_agent_controller.h"

#include <cstdlib>

#include "agent/configuration.h"
#include "agent/notifications/notification_delivery.h"
#include "agent/report.h"
#include "agent/update-check/app_update_checker.h"

namespace shelvo {
namespace {

// A layer root may not trust is skipped with one error entry naming the file and why, and the
// same words on standard error unless that is the journal too (a service), as shelvo-defaults
// says them.
std::optional<platform::Preferences> reportingUntrustedLayers(
    std::optional<platform::Preferences> suite, const platform::Logger& logger,
    std::shared_ptr<platform::Console> errors) {
  if (suite) {
    suite->reportUntrustedLayersTo(
        [logger, errors](const std::string& file, const std::string& reason) {
          logger.error("Skipping the preference file %{public}s: %{public}s", {file, reason});
          if (errors) errors->printLine("shelvo: skipping " + file + ": " + reason);
        });
  }
  return suite;
}

std::shared_ptr<platform::Console> layerWarnings(const AgentPlatform& platform) {
  return platform.echoLoggedLines ? platform.errorConsole : nullptr;
}

std::optional<platform::Preferences> openSuite(const AgentPlatform& platform, std::string name,
                                               const platform::Logger& logger) {
  std::optional<std::string> mainBundleId;
  if (platform.mainBundle) mainBundleId = platform.mainBundle->bundleIdentifier();
  return reportingUntrustedLayers(
      platform::Preferences::openSuite(*platform.env, std::move(name), platform.root, platform.user,
                                       mainBundleId),
      logger, layerWarnings(platform));
}

// The standard user defaults are the domain of the program's own bundle; a program outside a
// bundle has none.
std::optional<platform::Preferences> standardDefaults(const AgentPlatform& platform,
                                                      const platform::Logger& logger) {
  if (!platform.mainBundle) return std::nullopt;
  auto identifier = platform.mainBundle->bundleIdentifier();
  if (!identifier) return std::nullopt;
  return reportingUntrustedLayers(
      platform::Preferences(*platform.env, *identifier, platform.root, platform.user), logger,
      layerWarnings(platform));
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
      bundle(platform::Bundle::atPath(*platform.env, platform.root.resolve(kAgentBundlePath))),
      bundleID(platform.mainBundle ? platform.mainBundle->bundleIdentifier() : std::nullopt),
      platform_(std::move(platform)),
      arguments_(std::move(arguments)),
      scriptOutput_(std::make_shared<OutputRecorder>()),
      scriptWatch_(std::make_shared<ScriptWatch>(scriptOutput_, platform_.serviceNotifier,
                                                 [this] { fleet_.makeRoomForRecord(); })),
      scriptRunner_(
          agentLogger,
          platform_.echoLoggedLines ? platform_.console : std::make_shared<platform::NoConsole>(),
          platform_.zshPath,
          {std::make_shared<platform::LogindInhibitor>(
               "shelvo", [services = platform_.services] { return services->systemBus(); }),
           scriptWatch_}),
      fleet_(platform_, agentLogger, scriptOutput_, agentVersion()) {}

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

const platform::Result<ShelvoAPIEndpoints>& ShelvoAgentController::endpoints() {
  if (!endpoints_) endpoints_.emplace(ShelvoAPIEndpoints::fromConfigured(platform_.serviceURL));
  return *endpoints_;
}

platform::Status ShelvoAgentController::runScript(std::string_view script,
                                                  std::string_view progressMessage,
                                                  ScriptLaunch launch) {
  auto outcome = scriptRunner_.runScript(script, progressMessage, std::move(launch));
  if (outcome && outcome->ran()) fleet_.noteScriptStatus(outcome->exitStatus);
  if (auto signal = scriptWatch_->stoppedBy()) endStoppedRun(*signal);
  if (!outcome) return outcome.error();
  if (!outcome->ran()) {
    endRun(outcome->refusalStatus(), RunOutcome::FailedScriptCheck,
           std::string(outcome->refusalMessage()));
  }
  return platform::success();
}

ScriptLaunch ShelvoAgentController::prepareScriptLaunch() {
  // The HTTP library loads meanwhile, beside them: on a busy machine three tasks get more time
  // slices than one doing each in turn.
  auto loading = platform_.services->prepareRequests();
  return scriptRunner_.prepare();
}

void ShelvoAgentController::postNotification(const std::string& title,
                                             const std::optional<std::string>& subtitle,
                                             const std::string& body,
                                             const std::optional<std::string>& icon) {
  if (!NotificationDelivery(platform_, notifierLogger).post(title, subtitle, body, icon)) exit(0);
}

void ShelvoAgentController::checkForUpdates() {
  std::optional<long> updates;
  {
    AppUpdateChecker checker(platform_, endpoints());
    if (checker.fetchAppList()) {
      checker.detectUpdates();
      updates = static_cast<long>(checker.updatesAvailable.size());
    }
  }  // the search for installed apps, stopped if it still runs, has ended before the exit
  if (!updates) exit(1);
  fleet_.noteUpdatesAvailable(*updates);
}

void ShelvoAgentController::print(std::string_view line) {
  platform_.console->printLine(line);
}

void ShelvoAgentController::report(const platform::Logger& logger, platform::LogLevel level,
                                   std::string_view message) {
  shelvo::report(platform_, logger, level, message);
}

void ShelvoAgentController::report(const platform::Logger& logger, platform::LogLevel level,
                                   std::string_view format,
                                   std::initializer_list<platform::LogArgument> arguments) {
  shelvo::report(platform_, logger, level, format, arguments);
}

void ShelvoAgentController::exit(int status) {
  {
    // A stop signal's thread and the main thread may both end the run: the first one does.
    std::unique_lock lock(ending_);
    if (endingThread_ && *endingThread_ != std::this_thread::get_id()) {
      lock.unlock();
      while (true) std::this_thread::sleep_for(std::chrono::hours(1));
    }
    endingThread_ = std::this_thread::get_id();
  }
  fleet_.finishRun(status);
  platform_.env->endProcess(status);
  std::abort();  // endProcess never returns
}

}  // namespace shelvo
