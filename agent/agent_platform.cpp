#include "agent/agent_platform.h"

#include "platform/log/journal_stream.h"
#include "platform/log/log_sink.h"

#include "platform/system/process_exit.h"

namespace shelvo {

AgentPlatform AgentPlatform::fromEnvironment() {
  AgentPlatform platform;
  platform.root = platform::RootPrefix::fromEnvironment();
  platform.log = platform::LogConfig::fromEnvironment("shelvo");
  platform.console = std::make_shared<platform::StandardOutput>();
  platform.errorConsole = std::make_shared<platform::StandardError>();
  platform.echoLoggedLines =
      !(platform::standardOutputIsJournal() &&
        dynamic_cast<const platform::JournalSink*>(platform.log.sink.get()) != nullptr);
  platform.sleeper = std::make_shared<platform::RealSleeper>();
  platform.user = platform::effectiveUserAccount();
  platform.operatingSystemVersion = platform::runningOperatingSystemVersion();
  platform.mainBundle = platform::Bundle::mainBundle();
  platform.urlSession = platform::URLSessionConfiguration::fromEnvironment();
  platform.now = [] { return std::chrono::system_clock::now(); };
  platform.endProcess = [](int status) { platform::endProcess(status); };
  return platform;
}

}  // namespace shelvo
