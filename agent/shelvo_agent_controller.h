#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "agent/agent_platform.h"
#include "agent/records/fleet_reporting.h"
#include "agent/schedule/update_schedule.h"
#include "agent/script_watch.h"
#include "agent/service/credential.h"
#include "agent/service/shelvo_api_endpoints.h"
#include "platform/bundle/bundle.h"
#include "platform/defaults/preferences.h"
#include "platform/http/url_session.h"
#include "platform/log/logger.h"
#include "platform/notifications/notification_center.h"
#include "shared/records/output_recorder.h"
#include "shared/records/run_record.h"
#include "shared/script-runner/script_runner.h"

namespace shelvo {

// The agent: one instance per process, created at entry. It reads its configuration when it
// needs it and ends the process with the status of the command it ran.
class ShelvoAgentController {
 public:
  ShelvoAgentController(AgentPlatform platform, std::vector<std::string> arguments);

  // Runs the command named by the arguments and ends the process.
  [[noreturn]] void dispatchCommandLine();

  void requireRoot();
  void printUsage();
  void printVersion();
  std::string agentVersion() const;
  std::string agentBuild() const;

  // Commands.
  void installApp(const std::string& bundleIdentifier, bool notification, bool dock, bool progress,
                  const Credential& credential, const std::vector<std::string>& arguments,
                  bool updateAction);
  void runUpdates(bool notification, bool progress, bool scheduled, const Credential& credential);
  void postNotification(const std::string& title, const std::optional<std::string>& subtitle,
                        const std::string& body, const std::optional<std::string>& icon);
  [[noreturn]] void enableUpdateSchedule();
  [[noreturn]] void disableUpdateSchedule();
  void printUpdateScheduleStatus();
  void checkForUpdates();

  // Runs a script from the service through the check started before it was requested; a script
  // zsh refuses ends the process with 50 or 51. An error when the script's process could not be
  // started.
  platform::Status runScript(std::string_view script, std::string_view progressMessage,
                             ScriptLaunch launch);
  // zsh for the check and for the run, started before the script is requested so that their
  // start-up overlaps the wait for the service; they get the script once it is opened.
  ScriptLaunch prepareScriptLaunch();

  // Service requests: each blocks until the answer is classified and returns the opened
  // script; every failure ends the process from the completion handler.
  std::string requestInstallInformation(const std::string& bundleIdentifier, bool notification,
                                        bool dock, bool progress, bool updateAction, bool pontiq,
                                        const Credential& credential);
  std::string requestUpdateInformation(bool notification, bool progress,
                                       const Credential& credential);

  // Fields, in the order they are set.
  const platform::Logger agentLogger;
  const platform::Logger notifierLogger;
  const platform::Logger launchDaemonLogger;
  const std::string deamonPlist = "ostrel.shelvo.agent.plist";
  const std::optional<platform::Preferences> defaults;
  const std::optional<platform::Preferences> defaultsShelvoAgent;
  const std::optional<platform::Preferences> defaultsShelvo;
  const std::optional<platform::Bundle> bundle;
  const std::optional<std::string> bundleID;

 private:
  // Prints a line for the operator.
  void print(std::string_view line);
  [[noreturn]] void exit(int status);
  // An install, update or scheduled update: it waits for its turn and is recorded when it ends.
  void beginRun(const std::string& command, std::optional<std::string> bundleIdentifier,
                bool scheduled);
  [[noreturn]] void endRun(int status, RunOutcome outcome,
                           std::optional<std::string> message = std::nullopt);
  // SIGTERM or SIGINT during a run, on the signal's own thread.
  void stopRun(int signal);
  [[noreturn]] void endStoppedRun(int signal);
  // The credential, once it can be read: waits for it up to five minutes, and ends the process
  // when it does not come or cannot be sent.
  Credential awaitCredential();
  // An install, update or scheduled update, when command names one: it ends the process.
  void runUpdateCommand(const std::string& command, const Credential& credential);
  // Enabling, disabling or the status of the schedule, when command names one: it ends the
  // process.
  void runScheduleCommand(const std::string& command);
  void requireOperatingSystem13();
  void notifyFromArguments();

  enum class Answer { Install, Update };
  // Sends the request, waits for the answer and returns the script it holds; any other answer
  // is reported and ends the process.
  std::string awaitAnswer(platform::URLRequest request, Answer answer);
  [[noreturn]] void failToFormURL();
  // Logs the message at level on logger, then prints it: how the agent tells the operator.
  void report(const platform::Logger& logger, platform::LogLevel level, std::string_view message);
  // The same with a log format and its arguments; the printed line shows the private ones too.
  void report(const platform::Logger& logger, platform::LogLevel level, std::string_view format,
              std::initializer_list<platform::LogArgument> arguments);
  void openSystemSettingsLoginItems(const std::string& unitName);
  // The last update, the hours since and the interval, as an update run tells them.
  void reportSchedule(const UpdateSchedule& schedule, std::chrono::system_clock::time_point now);
  // Ends the run when it is not due yet, or is scheduled and the machine runs on battery.
  void endRunUnlessDue(const UpdateSchedule& schedule, std::chrono::system_clock::time_point now,
                       bool scheduled);

  // The service's URLs, parsed at their first use and kept: commands that never reach the
  // service (--version, --notify, the schedule) do not load the URL parser's library.
  const platform::Result<ShelvoAPIEndpoints>& endpoints();

  AgentPlatform platform_;
  // An error when the configured base is unusable.
  std::optional<platform::Result<ShelvoAPIEndpoints>> endpoints_;
  std::vector<std::string> arguments_;
  std::shared_ptr<OutputRecorder> scriptOutput_;
  std::shared_ptr<ScriptWatch> scriptWatch_;
  ScriptRunner scriptRunner_;
  FleetReporting fleet_;
  // The thread ending the process; another that tries too waits for the end.
  std::mutex ending_;
  std::optional<std::thread::id> endingThread_;
};

}  // namespace shelvo
