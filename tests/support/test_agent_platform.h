#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/agent_platform.h"
#include "platform/env/posix_env.h"
#include "platform/services/services.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace shelvo::test {

// What the test Env's process end throws, so a unit test sees the status the agent ended with.
struct ProcessEnded {
  int status;
};

// The real operating system, except that the process end throws ProcessEnded, waiting returns
// at once (recording what was asked) and the clock can be fixed.
class TestEnv : public platform::EnvWrapper {
 public:
  TestEnv() : EnvWrapper(std::make_shared<platform::PosixEnv>()) {}

  [[noreturn]] void endProcess(int status) override { throw ProcessEnded{status}; }
  std::chrono::system_clock::time_point now() const override {
    return fixedNow ? *fixedNow : EnvWrapper::now();
  }
  void sleepFor(std::chrono::milliseconds duration) override {
    slept.push_back(duration);
    if (onSleep) onSleep();
  }
  // Kept, not installed: a test stops the run by calling it.
  void watchStopSignals(std::function<void(int signal)> onStop) override {
    stopRun = std::move(onStop);
  }

  std::optional<std::chrono::system_clock::time_point> fixedNow;
  std::vector<std::chrono::milliseconds> slept;
  std::function<void()> onSleep;
  std::function<void(int signal)> stopRun;
};

// The real services, standing on env; a test derives from it and overrides the one call it is
// about.
class TestServices : public platform::ServicesWrapper {
 public:
  explicit TestServices(std::shared_ptr<platform::Env> env = std::make_shared<TestEnv>())
      : ServicesWrapper(std::make_shared<platform::SystemServices>(*env)), env_(std::move(env)) {}

 private:
  std::shared_ptr<platform::Env> env_;  // what the real services stand on
};

// Runs an operation of the agent: the status the process ended with, or -1 when it returned.
template <typename Operation>
int endStatusOf(Operation operation) {
  try {
    operation();
  } catch (const ProcessEnded& ended) {
    return ended.status;
  }
  return -1;
}

// An agent platform for unit tests: a scratch root, captured log and console, macOS 13, and the
// Env and services given (a TestEnv and the real services on it unless a test needs more).
inline AgentPlatform makeTestAgentPlatform(const TempDir& root, std::shared_ptr<CaptureSink> sink,
                                           std::shared_ptr<CapturedConsole> console,
                                           const std::string& userName = "root",
                                           const std::string& home = "/root",
                                           std::shared_ptr<platform::Env> env = nullptr,
                                           std::shared_ptr<platform::Services> services = nullptr) {
  AgentPlatform platform;
  platform.root = platform::RootPrefix(root.path());
  platform.log = {std::move(sink), false};
  platform.console = console;
  platform.errorConsole = std::move(console);
  platform.user = {userName, home};
  platform.operatingSystemVersion = {13, 0, 0};
  platform.env = env ? std::move(env) : std::make_shared<TestEnv>();
  platform.services =
      services ? std::move(services) : std::make_shared<platform::SystemServices>(*platform.env);
  return platform;
}

}  // namespace shelvo::test
