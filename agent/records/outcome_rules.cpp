#include "agent/records/outcome_rules.h"

#include <csignal>

namespace shelvo {
namespace {

bool isOffline(const platform::RequestError& error) {
  if (!error.isURLError) return false;
  if (error.networkUnavailableReason) return false;  // a metered network, not an offline one
  return error.code == platform::kURLErrorNotConnectedToInternet ||
         error.code == platform::kURLErrorCannotFindHost;
}

}  // namespace

RunOutcome outcomeOfAnswer(const AnswerOutcome& answer, const platform::DataTaskResult& result) {
  if (result.error && result.error->networkUnavailableReason) return RunOutcome::DeferredMetered;
  if (result.error && isOffline(*result.error)) return RunOutcome::DeferredOffline;
  if (answer.status == 22 || answer.status == 45) return RunOutcome::FailedAnswer;
  return RunOutcome::FailedService;
}

std::optional<std::string> messageOfAnswer(const AnswerOutcome& answer,
                                           const platform::DataTaskResult& result) {
  std::string message = answer.message;
  // A failure's line alone rarely says why ("... information: 0"); a skip's does.
  if (result.error && answer.status != 0) {
    const std::string& description = result.error->localizedDescription;
    if (message.empty()) {
      message = description;
    } else if (message.find(description) == std::string::npos) {
      message += " (" + description + ")";
    }
  }
  // A refusal's meaning, as standard error said it with the URL ("... 404 (Not Found: ...)").
  if (answer.meaning && !message.empty()) message += " (" + *answer.meaning + ")";
  if (message.empty() && !result.response) message = "No HTTP answer";
  if (message.empty()) return std::nullopt;
  return message;
}

std::string stoppedMessage(int signal) {
  const char* name = signal == SIGTERM ? "SIGTERM" : signal == SIGINT ? "SIGINT" : nullptr;
  std::string which = name ? name : "signal " + std::to_string(signal);
  return "Stopped by " + which + " before the run ended";
}

}  // namespace shelvo
