#include "agent/configuration.h"
#include "agent/records/outcome_rules.h"
#include "agent/service/answer_classification.h"
#include "agent/service/decryption_manager.h"
#include "agent/shelvo_agent_controller.h"
#include "platform/text/percent_encoding.h"

namespace shelvo {
namespace {

const char* spelled(bool value) {
  return value ? "true" : "false";
}

}  // namespace

std::string ShelvoAgentController::requestInstallInformation(const std::string& bundleIdentifier,
                                                             bool notification, bool dock,
                                                             bool progress, bool updateAction,
                                                             bool pontiq,
                                                             const Credential& credential) {
  std::optional<std::string> url;
  if (endpoints()) {
    std::string text = endpoints()->appsEndpoint() + "/" + bundleIdentifier +
                       "?notification=" + spelled(notification) + "&dock=" + spelled(dock) +
                       "&progress=" + spelled(progress);
    if (updateAction) text += "&action=update";
    url = platform::addingPercentEncodingForURLQuery(text);
  }
  if (!url) failToFormURL();

  platform::URLRequest request;
  request.url = *url;
  request.timeoutInterval = kRequestTimeout;
  request.headers = {
      {"Authorization", credential.headerValue()},
      {"User-Agent", "Shelvo Agent/" + agentVersion() + (pontiq ? " (Pontiq)" : "")}};
  return awaitAnswer(std::move(request), Answer::Install);
}

std::string ShelvoAgentController::requestUpdateInformation(bool notification, bool progress,
                                                            const Credential& credential) {
  if (!endpoints()) failToFormURL();
  bool allowRestrictedNetworks =
      defaultsShelvo && (defaultsShelvo->boolForKey(kAllowUpdatesContrainedNetworksKey) ||
                         defaultsShelvo->boolForKey(kAllowUpdatesConstrainedNetworksKey));

  platform::URLRequest request;
  request.url = endpoints()->updateEndpoint() + "/?notification=" + spelled(notification) +
                "&progress=" + spelled(progress);
  request.timeoutInterval = kRequestTimeout;
  request.headers = {{"Authorization", credential.headerValue()},
                     {"User-Agent", "Shelvo Agent/" + agentVersion()}};
  request.allowsConstrainedNetworkAccess = allowRestrictedNetworks;
  request.allowsExpensiveNetworkAccess = allowRestrictedNetworks;
  return awaitAnswer(std::move(request), Answer::Update);
}

void ShelvoAgentController::failToFormURL() {
  constexpr const char* kNotEncoded = "Error while encoding download URL";
  if (!endpoints()) {
    // The operator's own setting: said on both outputs, with how to mend it.
    platform_.errorConsole->printLine(endpoints().error().message);
    report(agentLogger, platform::LogLevel::Error, kNotEncoded);
  } else {
    agentLogger.error(kNotEncoded);
    platform_.errorConsole->printLine(
        "shelvo: the bundle identifier cannot be part of a URL (it is not valid UTF-8)");
  }
  endRun(20, RunOutcome::FailedService, kNotEncoded);
}

std::string ShelvoAgentController::awaitAnswer(platform::URLRequest request, Answer answer) {
  std::string url = request.url;
  platform_.serviceNotifier.status(answer == Answer::Install ? "Requesting install information"
                                                             : "Requesting update information");
  platform::DataTaskResult arrived =
      platform_.services->awaitDataTask(platform_.urlSession, std::move(request));
  DecryptionManager decryption(platform_.log);
  auto open = [&](std::string body) { return decryption.decrypt(std::move(body)); };
  // The body is handed over to be opened where it lies; the rest stays for the run record.
  platform::DataTaskResult answered{
      .data = std::move(arrived.data), .response = arrived.response, .error = arrived.error};
  auto outcome = answer == Answer::Install ? classifyInstallAnswer(std::move(answered), url, open)
                                           : classifyUpdateAnswer(std::move(answered), url, open);
  if (outcome.httpStatus) fleet_.noteHttpStatus(*outcome.httpStatus);
  if (!outcome.script) {
    if (outcome.hint) platform_.errorConsole->printLine(*outcome.hint);
    if (!outcome.message.empty()) report(agentLogger, outcome.level, outcome.message);
    endRun(outcome.status, outcomeOfAnswer(outcome, arrived), messageOfAnswer(outcome, arrived));
  }
  agentLogger.debug(answer == Answer::Install ? "Successfully obtained install information..."
                                              : "Successfully obtained update information...");
  return std::move(*outcome.script);
}

}  // namespace shelvo
