#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/bundle/bundle.h"
#include "platform/env/env.h"
#include "platform/http/url_session.h"
#include "platform/log/logger.h"
#include "platform/service-management/service_notifier.h"
#include "platform/services/services.h"
#include "platform/system/console.h"
#include "platform/system/os_version.h"
#include "platform/system/root_prefix.h"
#include "platform/system/user.h"

namespace shelvo {

// Everything the agent takes from the system it runs on, gathered at process entry. Tests build
// one by hand to run the agent against a scratch root, a captured console, or an Env or services
// of their own.
struct AgentPlatform {
  platform::RootPrefix root{"/"};
  platform::LogConfig log;
  std::shared_ptr<platform::Console> console;
  // Hints for the operator that are not part of a command's output.
  std::shared_ptr<platform::Console> errorConsole;
  // False when standard output is the journal the log also goes to (a systemd service): a line
  // that is logged is then not printed too, so the journal holds each line once.
  bool echoLoggedLines = true;
  platform::UserAccount user;
  platform::OperatingSystemVersion operatingSystemVersion;
  std::optional<platform::Bundle> mainBundle;
  std::string zshPath = "/bin/zsh";
  platform::URLSessionConfiguration urlSession;
  // Where systemd, when it started the agent, shows what the run is doing.
  platform::ServiceNotifier serviceNotifier;
  // SHELVO_SERVICE_URL, when set.
  std::optional<std::string> serviceURL;
  // The operating system: the environment, files, time, the end of the process.
  std::shared_ptr<platform::Env> env;
  // Built on it: HTTP tasks, the buses, notifications, the schedule. Declared after env, as it
  // stands on it.
  std::shared_ptr<platform::Services> services;

  static AgentPlatform fromEnvironment(std::shared_ptr<platform::Env> env);
};

}  // namespace shelvo
