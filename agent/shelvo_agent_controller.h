#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/agent_platform.h"
#include "platform/bundle/bundle.h"
#include "platform/defaults/preferences.h"
#include "platform/log/logger.h"
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
                  const std::string& authorization, const std::vector<std::string>& arguments,
                  bool updateAction);
  void runUpdates(bool notification, bool progress, bool scheduled,
                  const std::string& authorization);
  void postNotification(const std::string& title, const std::optional<std::string>& subtitle,
                        const std::string& body, const std::optional<std::string>& icon);
  [[noreturn]] void enableUpdateSchedule();
  [[noreturn]] void disableUpdateSchedule();
  void printUpdateScheduleStatus();
  void checkForUpdates();

  void runScript(std::string_view script, std::string_view progressMessage);

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
  // Prints a line and logs it with the private "%s" format.
  void printAndLog(platform::LogLevel level, std::string_view line);
  [[noreturn]] void exit(int status);
  std::optional<std::string> awaitAuthorization();
  void requireOperatingSystem13();
  void notifyFromArguments();
  [[noreturn]] void commandNotAvailable(std::string_view command);

  AgentPlatform platform_;
  std::vector<std::string> arguments_;
  ScriptRunner scriptRunner_;
};

}  // namespace shelvo
