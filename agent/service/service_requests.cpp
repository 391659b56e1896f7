#include <semaphore>

#include "agent/configuration.h"
#include "agent/service/decryption_manager.h"
#include "agent/service/shelvo_api_endpoints.h"
#include "agent/shelvo_agent_controller.h"
#include "platform/text/percent_encoding.h"

namespace shelvo {
namespace {

const char* spelled(bool value) {
  return value ? "true" : "false";
}

bool isSuccessStatus(long status) {
  return status >= 200 && status <= 299;
}

}  // namespace

// The hand-over from a completion handler to the caller it unblocks.
struct ShelvoAgentController::ResultBox {
  std::string url;  // where the request went, for the operator's hint
  std::string text;
  std::binary_semaphore signal{0};
};

std::string ShelvoAgentController::requestInstallInformation(const std::string& bundleIdentifier,
                                                             bool notification, bool dock,
                                                             bool progress, bool updateAction,
                                                             bool pontiq,
                                                             const std::string& authorization) {
  auto endpoint = ShelvoAPIEndpoints::appsEndpoint(platform_.serviceURL);
  std::optional<std::string> url;
  if (endpoint) {
    std::string text = *endpoint + "/" + bundleIdentifier +
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
      {"Authorization", "Basic " + authorization},
      {"User-Agent", "Shelvo Agent/" + agentVersion() + (pontiq ? " (Pontiq)" : "")}};
  return awaitAnswer(std::move(request), &ShelvoAgentController::receiveInstallInformation);
}

std::string ShelvoAgentController::requestUpdateInformation(bool notification, bool progress,
                                                            const std::string& authorization) {
  auto endpoint = ShelvoAPIEndpoints::updateEndpoint(platform_.serviceURL);
  if (!endpoint) failToFormURL();
  bool allowRestrictedNetworks =
      defaultsShelvo && (defaultsShelvo->boolForKey(kAllowUpdatesContrainedNetworksKey) ||
                         defaultsShelvo->boolForKey(kAllowUpdatesConstrainedNetworksKey));

  platform::URLRequest request;
  request.url =
      *endpoint + "/?notification=" + spelled(notification) + "&progress=" + spelled(progress);
  request.timeoutInterval = kRequestTimeout;
  request.headers = {{"Authorization", "Basic " + authorization},
                     {"User-Agent", "Shelvo Agent/" + agentVersion()}};
  request.allowsConstrainedNetworkAccess = allowRestrictedNetworks;
  request.allowsExpensiveNetworkAccess = allowRestrictedNetworks;
  return awaitAnswer(std::move(request), &ShelvoAgentController::receiveUpdateInformation);
}

void ShelvoAgentController::failToFormURL() {
  agentLogger.error("Error while encoding download URL");
  if (!ShelvoAPIEndpoints::baseURL(platform_.serviceURL)) {
    // The operator's own setting: said on both outputs, with how to mend it.
    platform_.errorConsole->printLine(ShelvoAPIEndpoints::kUnusableBaseURLHint);
    print("Error while encoding download URL");
  } else {
    platform_.errorConsole->printLine(
        "shelvo: the bundle identifier cannot be part of a URL (it is not valid UTF-8)");
  }
  exit(20);
}

std::string ShelvoAgentController::awaitAnswer(platform::URLRequest request, Receiver receiver) {
  auto box = std::make_shared<ResultBox>();
  box->url = request.url;
  platform_.env->dataTask(
      platform_.urlSession, std::move(request),
      [this, box, receiver](platform::DataTaskResult result) { (this->*receiver)(result, *box); });
  box->signal.acquire();
  return std::move(box->text);
}

void ShelvoAgentController::receiveInstallInformation(const platform::DataTaskResult& result,
                                                      ResultBox& box) {
  if (result.error) {
    const std::string& description = result.error->localizedDescription;
    platform_.errorConsole->printLine("shelvo: the request to " + box.url + " failed");
    agentLogger.error("Failed to get install information: %{public}s", {description});
    echo("Failed to get install information: " + description);
    exit(20);
  }
  if (!result.response) exit(21);
  if (runRecord_) runRecord_->httpStatus = result.response->statusCode;
  if (!isSuccessStatus(result.response->statusCode)) {
    agentLogger.error("Failed to get install information: %ld", {result.response->statusCode});
    echo("Failed to get install information: " + std::to_string(result.response->statusCode));
    exit(21);
  }
  if (!result.data) {
    agentLogger.error("Failed to get install information: Unknown error");
    echo("Failed to get install information: Unknown error");
    exit(22);
  }
  auto text = DecryptionManager(platform_.log).decrypt(*result.data);
  if (!text) {
    agentLogger.error("Error while obtaining install information");
    echo("Error while obtaining install information");
    exit(45);
  }
  agentLogger.debug("Successfully obtained install information...");
  handOver(std::move(*text), box);
}

void ShelvoAgentController::receiveUpdateInformation(const platform::DataTaskResult& result,
                                                     ResultBox& box) {
  using Reason = platform::NetworkUnavailableReason;
  if (result.error && result.error->isURLError) {
    if (result.error->networkUnavailableReason == Reason::Constrained) {
      reportAndExit(platform::LogLevel::Default, "Low Data Mode is enabled. Skipping updates...",
                    0);
    }
    if (result.error->networkUnavailableReason == Reason::Expensive) {
      reportAndExit(platform::LogLevel::Default,
                    "Network connection is considered expensive, likely a Personal Hotspot. "
                    "Skipping updates...",
                    0);
    }
  }
  if (result.error && !result.error->isURLError) {
    const std::string& description = result.error->localizedDescription;
    platform_.errorConsole->printLine("shelvo: the request to " + box.url + " failed");
    agentLogger.error("Failed to get update information: %{public}s", {description});
    echo("Failed to get update information: " + description);
    exit(20);
  }
  // Every other URL-loading error comes without an HTTP response, reported as status 0.
  long status = result.response ? result.response->statusCode : 0;
  if (runRecord_ && result.response) runRecord_->httpStatus = status;
  if (result.error) {
    platform_.errorConsole->printLine("shelvo: the request to " + box.url +
                                      " failed: " + result.error->localizedDescription);
  }
  if (result.error || !result.response || !isSuccessStatus(status)) {
    agentLogger.error("Failed to get update information: %ld", {status});
    echo("Failed to get update information: " + std::to_string(status));
    exit(21);
  }
  if (!result.data) {
    reportAndExit(platform::LogLevel::Error, "Failed to get update information: Unknown error", 22);
  }
  auto text = DecryptionManager(platform_.log).decrypt(*result.data);
  if (!text)
    reportAndExit(platform::LogLevel::Error, "Error while obtaining update information", 45);
  agentLogger.debug("Successfully obtained update information...");
  handOver(std::move(*text), box);
}

void ShelvoAgentController::handOver(std::string text, ResultBox& box) {
  // A script never holds NUL characters; the service's text loses any it carries.
  std::erase(text, '\0');
  box.text = std::move(text);
  box.signal.release();
}

void ShelvoAgentController::reportAndExit(platform::LogLevel level, std::string_view message,
                                          int status) {
  agentLogger.write(level, message, {});
  echo(message);
  exit(status);
}

}  // namespace shelvo
