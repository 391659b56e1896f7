#pragma once

#include <memory>
#include <string>

#include "tests/support/capture.h"
#include "agent/agent_platform.h"
#include "tests/support/temp_dir.h"

namespace shelvo::test {

// What the injected process end throws, so a unit test sees the status the agent ended with.
struct ProcessEnded {
  int status;
};

// An agent platform for unit tests: a scratch root, captured log and console, macOS 13, and a
// process end that throws ProcessEnded.
inline AgentPlatform makeTestAgentPlatform(const TempDir& root,
                                           std::shared_ptr<test::CaptureSink> sink,
                                           std::shared_ptr<test::CapturedConsole> console,
                                           const std::string& userName = "root",
                                           const std::string& home = "/root") {
  AgentPlatform platform;
  platform.root = platform::RootPrefix(root.path());
  platform.log = {std::move(sink), false};
  platform.console = console;
  platform.errorConsole = std::move(console);
  platform.user = {userName, home};
  platform.operatingSystemVersion = {13, 0, 0};
  platform.endProcess = [](int status) { throw ProcessEnded{status}; };
  return platform;
}

}  // namespace shelvo::test
