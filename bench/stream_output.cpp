// Streams the output of `cat FILE` through the agent's script runner: every chunk is logged to
// the configured sink (SHELVO_LOG) and printed to standard output, as during an install.
#include <csignal>
#include <iostream>

#include "platform/env/env.h"
#include "platform/log/logger.h"
#include "platform/system/console.h"
#include "shared/script-runner/script_runner.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: stream-output FILE\n";
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  shelvo::ScriptRunner runner(shelvo::platform::Logger(shelvo::platform::LogConfig::fromEnvironment(
                                                           "shelvo", shelvo::platform::PosixEnv()),
                                                       "ostrel.shelvo", "Agent"),
                              std::make_shared<shelvo::platform::StandardOutput>());
  runner.runScript(std::string("cat '") + argv[1] + "'", "Installing app...");
  return 0;
}
