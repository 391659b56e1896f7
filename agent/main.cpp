#include <csignal>

#include "agent/agent_platform.h"
#include "agent/shelvo_agent_controller.h"
#include "platform/env/posix_env.h"
#include "platform/system/standard_descriptors.h"

int main(int argc, char** argv) {
  shelvo::platform::openMissingStandardDescriptors();
  // A closed standard output must not end an install half way.
  std::signal(SIGPIPE, SIG_IGN);
  static shelvo::ShelvoAgentController controller(
      shelvo::AgentPlatform::fromEnvironment(std::make_shared<shelvo::platform::PosixEnv>()),
      std::vector<std::string>(argv, argv + argc));
  controller.dispatchCommandLine();
}
