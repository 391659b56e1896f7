#include "agent/agent_platform.h"

#include "platform/log/journal_stream.h"
#include "platform/log/log_sink.h"

namespace shelvo {

AgentPlatform AgentPlatform::fromEnvironment(std::shared_ptr<platform::Env> env) {
  AgentPlatform platform;
  platform.root = platform::RootPrefix::fromEnvironment(*env);
  platform.log = platform::LogConfig::fromEnvironment("shelvo", *env);
  platform.console = std::make_shared<platform::StandardOutput>();
  platform.errorConsole = std::make_shared<platform::StandardError>();
  platform.echoLoggedLines =
      !(platform::standardOutputIsJournal(*env) &&
        dynamic_cast<const platform::JournalSink*>(platform.log.sink.get()) != nullptr);
  platform.user = platform::effectiveUserAccount();
  platform.operatingSystemVersion = platform::runningOperatingSystemVersion();
  platform.mainBundle = platform::Bundle::mainBundle(*env);
  platform.urlSession = platform::URLSessionConfiguration::fromEnvironment(*env);
  platform.serviceURL = env->variable("SHELVO_SERVICE_URL");
  platform.serviceNotifier = platform::ServiceNotifier::fromEnvironment(*env);
  platform.services = std::make_shared<platform::SystemServices>(*env);
  platform.env = std::move(env);
  return platform;
}

}  // namespace shelvo
