#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_agent_platform.h"

namespace shelvo::test {

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

}  // namespace shelvo::test
