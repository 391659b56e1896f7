#include "agent/service/answer_classification.h"

namespace shelvo {
namespace {

using platform::LogLevel;

bool isSuccessStatus(long status) {
  return status >= 200 && status <= 299;
}

AnswerOutcome ending(LogLevel level, std::string message, int status) {
  AnswerOutcome outcome;
  outcome.level = level;
  outcome.message = std::move(message);
  outcome.status = status;
  return outcome;
}

std::string requestFailed(std::string_view url) {
  return "shelvo: the request to " + std::string(url) + " failed";
}

// A body that arrived: opened, or status 45. A script never holds NUL characters; the
// service's text loses any it carries.
AnswerOutcome opened(const platform::DataTaskResult& result, const AnswerOpener& open,
                     const char* what) {
  auto text = open(*result.data);
  if (!text) return ending(LogLevel::Error, std::string("Error while obtaining ") + what, 45);
  std::erase(*text, '\0');
  AnswerOutcome outcome;
  outcome.script = std::move(*text);
  return outcome;
}

}  // namespace

AnswerOutcome classifyInstallAnswer(const platform::DataTaskResult& result, std::string_view url,
                                    const AnswerOpener& open) {
  if (result.error) {
    auto outcome =
        ending(LogLevel::Error,
               "Failed to get install information: " + result.error->localizedDescription, 20);
    outcome.hint = requestFailed(url);
    return outcome;
  }
  if (!result.response) return ending(LogLevel::Error, "", 21);
  long status = result.response->statusCode;
  AnswerOutcome outcome;
  if (!isSuccessStatus(status)) {
    outcome =
        ending(LogLevel::Error, "Failed to get install information: " + std::to_string(status), 21);
  } else if (!result.data) {
    outcome = ending(LogLevel::Error, "Failed to get install information: Unknown error", 22);
  } else {
    outcome = opened(result, open, "install information");
  }
  outcome.httpStatus = status;
  return outcome;
}

AnswerOutcome classifyUpdateAnswer(const platform::DataTaskResult& result, std::string_view url,
                                   const AnswerOpener& open) {
  using Reason = platform::NetworkUnavailableReason;
  if (result.error && result.error->isURLError) {
    if (result.error->networkUnavailableReason == Reason::Constrained) {
      return ending(LogLevel::Default, "Low Data Mode is enabled. Skipping updates...", 0);
    }
    if (result.error->networkUnavailableReason == Reason::Expensive) {
      return ending(LogLevel::Default,
                    "Network connection is considered expensive, likely a Personal Hotspot. "
                    "Skipping updates...",
                    0);
    }
  }
  if (result.error && !result.error->isURLError) {
    auto outcome =
        ending(LogLevel::Error,
               "Failed to get update information: " + result.error->localizedDescription, 20);
    outcome.hint = requestFailed(url);
    return outcome;
  }
  // Every other URL-loading error comes without an HTTP response, reported as status 0.
  long status = result.response ? result.response->statusCode : 0;
  AnswerOutcome outcome;
  if (result.error || !result.response || !isSuccessStatus(status)) {
    outcome =
        ending(LogLevel::Error, "Failed to get update information: " + std::to_string(status), 21);
    if (result.error) outcome.hint = requestFailed(url) + ": " + result.error->localizedDescription;
  } else if (!result.data) {
    outcome = ending(LogLevel::Error, "Failed to get update information: Unknown error", 22);
  } else {
    outcome = opened(result, open, "update information");
  }
  if (result.response) outcome.httpStatus = status;
  return outcome;
}

}  // namespace shelvo
