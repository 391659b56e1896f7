#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/shelvo_agent_controller.h"
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

// A transfer that got an HTTP answer.
inline platform::DataTaskResult answered(long status, std::optional<std::string> body) {
  platform::DataTaskResult result;
  result.response = platform::HTTPResponse{status};
  result.data = std::move(body);
  return result;
}

// A transfer that failed before any answer.
inline platform::DataTaskResult failed(platform::RequestError error) {
  platform::DataTaskResult result;
  result.error = std::move(error);
  return result;
}

// Answers every request with answer, at once, keeping what was asked; onRequest runs first.
class AnsweringServices final : public TestServices {
 public:
  void dataTask(const platform::URLSessionConfiguration&, platform::URLRequest request,
                std::function<void(platform::DataTaskResult)> completion) override {
    requested.push_back(std::move(request));
    if (onRequest) onRequest();
    completion(answer);
  }
  platform::DataTaskResult answer;
  std::vector<platform::URLRequest> requested;
  std::function<void()> onRequest;
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

// An agent on a scratch root: log and consoles captured, the clock fixed at kNow in UTC,
// macOS 13, and the real services on the test Env unless a test gives its own.
class ControllerTest : public ::testing::Test {
 public:  // table rows' set-ups reach in
  static constexpr std::int64_t kNow = 1'700'000'000;

  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    env->fixedNow = std::chrono::system_clock::time_point(std::chrono::seconds(kNow));
  }

  // A setting of root's, where shelvo-defaults writes it.
  void set(const std::string& domain, const std::string& key, platform::Plist value) {
    platform::Preferences suite(*env, domain, platform::RootPrefix(root->path()),
                                {"root", "/root"});
    auto stored = suite.setObject(key, std::move(value));
    ASSERT_TRUE(stored) << stored.error().message;
  }

  AgentPlatform platform(const std::string& user) const {
    AgentPlatform p;
    p.root = platform::RootPrefix(root->path());
    p.log = {sink, false};
    p.console = console;
    p.errorConsole = errors ? errors : console;
    // Every user shares root's home, so a user other than root sees root's settings there: what
    // tells the users apart is the name alone.
    p.user = {user, "/root"};
    p.operatingSystemVersion = osVersion;
    p.zshPath = zshPath;
    p.serviceURL = serviceURL;
    p.env = env;
    p.services = services ? services : std::make_shared<platform::SystemServices>(*env);
    return p;
  }

  // Runs operation on an agent started with arguments by user, printing on a new console: the
  // status the process ended with, or -1 when the operation returned.
  template <typename Operation>
  int operate(Operation operation, const std::string& user = "root",
              const std::vector<std::string>& arguments = {"shelvo"}) {
    console = std::make_shared<CapturedConsole>();
    ShelvoAgentController controller(platform(user), arguments);
    return endStatusOf([&] { operation(controller); });
  }
  // Runs the agent's command line "shelvo arguments..." as user.
  int dispatch(std::vector<std::string> arguments, const std::string& user = "root") {
    arguments.insert(arguments.begin(), "shelvo");
    return operate([](ShelvoAgentController& c) { c.dispatchCommandLine(); }, user, arguments);
  }

  std::unique_ptr<test::TempDir> root = std::make_unique<test::TempDir>();
  std::shared_ptr<TestEnv> env = std::make_shared<TestEnv>();
  std::shared_ptr<platform::Services> services;
  std::shared_ptr<CaptureSink> sink = std::make_shared<CaptureSink>();
  std::shared_ptr<CapturedConsole> console = std::make_shared<CapturedConsole>();
  std::shared_ptr<CapturedConsole> errors;  // standard error: the console unless set
  std::optional<std::string> serviceURL = "https://apps.example";
  std::string zshPath = "/bin/zsh";
  platform::OperatingSystemVersion osVersion{13, 0, 0};
};

}  // namespace shelvo::test
