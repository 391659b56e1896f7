#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/env/posix_env.h"
#include "platform/services/services.h"

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

}  // namespace shelvo::test
