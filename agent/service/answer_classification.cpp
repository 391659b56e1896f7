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

enum class Request { Install, Update };

// What a status outside 200-299 means, where it means more than its number.
std::optional<std::string> statusMeaning(long status, Request request) {
  switch (status) {
    case 401:
      return "Unauthorized: the service did not accept the credential";
    case 403:
      return "Forbidden: the service knows the credential but does not allow it this request";
    case 404:
      return request == Request::Install ? "Not Found: the service has no app with this bundle "
                                           "identifier, or the service URL is wrong"
                                         : "Not Found: the service URL is wrong";
    default:
      return std::nullopt;
  }
}

// The same for the operator at the terminal, with the URL that was tried and where to look.
std::string statusHint(long status, std::string_view url, Request request) {
  std::string hint = "shelvo: " + std::string(url) + " answered " + std::to_string(status);
  auto meaning = statusMeaning(status, request);
  if (!meaning) return hint;
  hint += " " + *meaning;
  switch (status) {
    case 401:
      return hint +
             " (key \"authorization\" of domain ostrel.shelvo; shelvo-defaults explain "
             "ostrel.shelvo shows where it comes from)";
    case 403:
      return hint + "; ask whoever runs the service";
    default:
      return hint + " (shelvo-defaults explain ostrel.shelvo shows it)";
  }
}

std::string noHttpAnswer(std::string_view url) {
  return "shelvo: " + std::string(url) + " gave no HTTP answer";
}

// A body that arrived: opened, or status 45.
AnswerOutcome opened(std::string body, const AnswerOpener& open, const char* what) {
  auto text = open(std::move(body));
  if (!text) return ending(LogLevel::Error, std::string("Error while obtaining ") + what, 45);
  AnswerOutcome outcome;
  outcome.script = std::move(*text);
  return outcome;
}

}  // namespace

AnswerOutcome classifyInstallAnswer(platform::DataTaskResult result, std::string_view url,
                                    const AnswerOpener& open) {
  if (result.error) {
    auto outcome =
        ending(LogLevel::Error,
               "Failed to get install information: " + result.error->localizedDescription, 20);
    outcome.hint = requestFailed(url);
    return outcome;
  }
  if (!result.response) {
    auto outcome = ending(LogLevel::Error, "", 21);
    outcome.hint = noHttpAnswer(url);
    return outcome;
  }
  long status = result.response->statusCode;
  AnswerOutcome outcome;
  if (!isSuccessStatus(status)) {
    outcome =
        ending(LogLevel::Error, "Failed to get install information: " + std::to_string(status), 21);
    outcome.hint = statusHint(status, url, Request::Install);
    outcome.meaning = statusMeaning(status, Request::Install);
  } else if (!result.data) {
    outcome = ending(LogLevel::Error, "Failed to get install information: Unknown error", 22);
  } else {
    outcome = opened(std::move(*result.data), open, "install information");
  }
  outcome.httpStatus = status;
  return outcome;
}

AnswerOutcome classifyUpdateAnswer(platform::DataTaskResult result, std::string_view url,
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
    if (result.error) {
      outcome.hint = requestFailed(url) + ": " + result.error->localizedDescription;
    } else if (!result.response) {
      outcome.hint = noHttpAnswer(url);
    } else {
      outcome.hint = statusHint(status, url, Request::Update);
      outcome.meaning = statusMeaning(status, Request::Update);
    }
  } else if (!result.data) {
    outcome = ending(LogLevel::Error, "Failed to get update information: Unknown error", 22);
  } else {
    outcome = opened(std::move(*result.data), open, "update information");
  }
  if (result.response) outcome.httpStatus = status;
  return outcome;
}

}  // namespace shelvo
