#include <algorithm>

#include "agent/configuration.h"
#include "agent/shelvo_agent_controller.h"

namespace shelvo {
namespace {

constexpr int kAuthorizationAttempts = 31;
constexpr std::chrono::seconds kAuthorizationRetryDelay(10);
constexpr const char* kDefaultNotificationTitle = "App Shelvo";

bool contains(const std::vector<std::string>& arguments, std::string_view option) {
  return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
}

// Says at once, on standard error, what the credential wait is for and how to end it. For a user
// other than root, the credential usually sits where only root may read it: each such file is
// named, and setting the credential again would not help.
void explainCredentialWait(const std::optional<platform::Preferences>& suite,
                           const std::string& userName, platform::Console& errors) {
  if (userName == "root") {
    errors.printLine(
        "shelvo: no credential yet; waiting up to 5 minutes for key \"authorization\" in "
        "domain ostrel.shelvo. Set it with: sudo shelvo-defaults write ostrel.shelvo "
        "authorization -string TOKEN (or in /etc/shelvo/managed/ostrel.shelvo.plist, mode "
        "0600)");
    return;
  }
  if (suite) {
    std::vector<std::string> said;  // one folder in the way can hide two layers
    for (const auto& layer : suite->readLayers()) {
      if (layer.state != platform::Preferences::LayerReading::State::Unreadable ||
          std::find(said.begin(), said.end(), layer.reason) != said.end())
        continue;
      said.push_back(layer.reason);
      errors.printLine("shelvo: " + layer.reason + ": run with sudo");
    }
  }
  errors.printLine("shelvo: no credential readable by user " + userName +
                   "; waiting up to 5 minutes for key \"authorization\" in domain "
                   "ostrel.shelvo. If it is set for root (sudo shelvo-defaults write, or the "
                   "managed file at mode 0600), run with sudo");
}

// The value of an option: the element right after its first occurrence, taken as it stands.
struct OptionValue {
  bool present = false;
  std::optional<std::string> value;  // absent when the option is the last element
};

OptionValue optionValue(const std::vector<std::string>& arguments, std::string_view option) {
  auto found = std::find(arguments.begin(), arguments.end(), option);
  if (found == arguments.end()) return {};
  if (std::next(found) == arguments.end()) return {true, std::nullopt};
  return {true, *std::next(found)};
}

}  // namespace

void ShelvoAgentController::dispatchCommandLine() {
  if (arguments_.size() <= 1) {
    report(agentLogger, platform::LogLevel::Debug, "%s", {"No arguments are given"});
    print("");
    printUsage();
    exit(5);
  }
  const Credential credential = awaitCredential();
  scriptWatch_->setSecret(credential);
  const std::string& command = arguments_[1];
  runUpdateCommand(command, credential);
  runScheduleCommand(command);
  if (command == "-n" || command == "--notify") {
    notifyFromArguments();
    exit(0);
  }
  if (command == "--check-updates") {
    checkForUpdates();
    exit(0);
  }
  if (command == "-v" || command == "--version") {
    printVersion();
    exit(0);
  }
  printUsage();  // "-h", "--help" and anything else
  exit(0);
}

void ShelvoAgentController::runUpdateCommand(const std::string& command,
                                             const Credential& credential) {
  const auto& arguments = arguments_;
  bool notification = !contains(arguments, "-s") && !contains(arguments, "--silent");
  const bool progress = contains(arguments, "-p") || contains(arguments, "--progress");
  if (command == "-i" || command == "--install") {
    requireRoot();
    if (arguments.size() < 3) {
      print("Error: No Bundle Identifier was specified");
      exit(11);
    }
    const bool dock = contains(arguments, "-d") || contains(arguments, "--dock");
    beginRun("install", arguments[2], false);
    installApp(arguments[2], notification, dock, progress, credential, arguments,
               contains(arguments, "--update-action"));
    endRun(0, RunOutcome::Installed);
  }
  const bool scheduled = command == "--update-schedule";
  if (!scheduled && command != "-u" && command != "--update") return;
  requireRoot();
  beginRun(scheduled ? "update-schedule" : "update", std::nullopt, scheduled);
  // A scheduled run shows notifications unless the operator hid them.
  if (scheduled) {
    notification = !(defaultsShelvo && defaultsShelvo->boolForKey(kHideUpdateNotificationsKey));
  }
  runUpdates(notification, progress, scheduled, credential);
  endRun(0, RunOutcome::Updated);
}

void ShelvoAgentController::runScheduleCommand(const std::string& command) {
  const bool enable = command == "--schedule-enable";
  const bool disable = command == "--schedule-disable";
  if (!enable && !disable && command != "--schedule-status") return;
  requireOperatingSystem13();
  if (enable || disable) requireRoot();
  if (enable) enableUpdateSchedule();
  if (disable) disableUpdateSchedule();
  printUpdateScheduleStatus();
  exit(0);
}

Credential ShelvoAgentController::awaitCredential() {
  auto read = [this]() -> std::optional<std::string> {
    if (!defaultsShelvo) return std::nullopt;
    return defaultsShelvo->stringForKey(kAuthorizationKey);
  };
  std::optional<std::string> text = read();
  for (int attempt = 0; !text && attempt < kAuthorizationAttempts; ++attempt) {
    // Standard output keeps the wait's own lines; standard error says why at once.
    if (attempt == 0)
      explainCredentialWait(defaultsShelvo, platform_.user.name, *platform_.errorConsole);
    report(agentLogger, platform::LogLevel::Default, "%s",
           {"Authorization not found yet, waiting max 5 minutes..."});
    platform_.env->sleepFor(kAuthorizationRetryDelay);
    text = read();
  }
  if (!text) {
    report(agentLogger, platform::LogLevel::Error, "%s", {"Error: Authorization not found!"});
    exit(10);
  }
  auto credential = Credential::check(std::move(*text));
  if (!credential) {
    report(agentLogger, platform::LogLevel::Error, "%s", {credential.error().message});
    exit(10);
  }
  return std::move(*credential);
}

void ShelvoAgentController::requireRoot() {
  if (platform_.user.name == "root") return;
  print("This application must be run as root. Try the sudo command.");
  exit(1);
}

void ShelvoAgentController::requireOperatingSystem13() {
  if (platform::isAtLeast(platform_.operatingSystemVersion, {13, 0, 0})) return;
  print("Only supported on macOS 13 or later");
  exit(0);
}

void ShelvoAgentController::notifyFromArguments() {
  const auto& arguments = arguments_;
  OptionValue body = optionValue(arguments, "--body");
  if (!body.present) {
    print("Missing --body BODY_HERE");
    exit(13);
  }
  if (!body.value) {
    print("Missing argument after --body, please specify the body");
    exit(12);
  }
  OptionValue title = optionValue(arguments, "--title");
  if (title.present && !title.value) {
    print("Missing argument after --title, please specify the title");
  }
  OptionValue subtitle = optionValue(arguments, "--subtitle");
  if (subtitle.present && !subtitle.value) {
    print("Missing argument after --subtitle, please specify the subtitle");
  }
  OptionValue icon = optionValue(arguments, "--icon");
  if (icon.present && !icon.value) {
    print("Missing argument after --icon, please specify the icon URL");
  }
  postNotification(title.value.value_or(kDefaultNotificationTitle), subtitle.value, *body.value,
                   icon.value);
}

}  // namespace shelvo
