// Each row of the service answer tables, as a pure function from the transfer result to what
// the agent does: run the script, or log and print a message and end with a status.
#include <gtest/gtest.h>

#include "agent/service/answer_classification.h"

namespace shelvo {
namespace {

using platform::LogLevel;

constexpr std::string_view kUrl = "https://apps.example/apps/x";

platform::DataTaskResult answered(long status, std::optional<std::string> body) {
  platform::DataTaskResult result;
  result.response = platform::HTTPResponse{status};
  result.data = std::move(body);
  return result;
}

platform::DataTaskResult failed(platform::RequestError error) {
  platform::DataTaskResult result;
  result.error = std::move(error);
  return result;
}

// Opens "sealed:TEXT" to TEXT; anything else does not open.
std::optional<std::string> open(std::string_view body) {
  if (!body.starts_with("sealed:")) return std::nullopt;
  return std::string(body.substr(7));
}

struct Row {
  const char* name;
  platform::DataTaskResult result;
  std::optional<std::string> script;
  LogLevel level;
  std::string message;
  int status;
  std::string hint;  // on standard error; empty for none
};

void expectRows(const std::vector<Row>& rows, bool install) {
  for (const auto& row : rows) {
    auto outcome = install ? classifyInstallAnswer(row.result, kUrl, open)
                           : classifyUpdateAnswer(row.result, kUrl, open);
    EXPECT_EQ(outcome.script, row.script) << row.name;
    if (row.script) continue;
    EXPECT_EQ(outcome.level, row.level) << row.name;
    EXPECT_EQ(outcome.message, row.message) << row.name;
    EXPECT_EQ(outcome.status, row.status) << row.name;
    EXPECT_EQ(outcome.hint.value_or(""), row.hint) << row.name;
  }
}

TEST(AnswerClassification, InstallAnswers) {
  auto timedOut = platform::makeURLError(platform::kURLErrorTimedOut, "apps.example");
  platform::DataTaskResult noResponse;
  expectRows(
      {
          {"opened", answered(200, "sealed:echo hi"), "echo hi", LogLevel::Error, "", 0, ""},
          {"transport",
           failed(timedOut),
           {},
           LogLevel::Error,
           "Failed to get install information: The request timed out.",
           20,
           "shelvo: the request to https://apps.example/apps/x failed"},
          {"no response",
           noResponse,
           {},
           LogLevel::Error,
           "",
           21,
           "shelvo: https://apps.example/apps/x gave no HTTP answer"},
          {"HTTP 401",
           answered(401, "x"),
           {},
           LogLevel::Error,
           "Failed to get install information: 401",
           21,
           "shelvo: https://apps.example/apps/x answered 401 Unauthorized: the service did not "
           "accept the credential (key \"authorization\" of domain ostrel.shelvo; "
           "shelvo-defaults explain ostrel.shelvo shows where it comes from)"},
          {"HTTP 403",
           answered(403, "x"),
           {},
           LogLevel::Error,
           "Failed to get install information: 403",
           21,
           "shelvo: https://apps.example/apps/x answered 403 Forbidden: the service knows the "
           "credential but does not allow it this request; ask whoever runs the service"},
          {"HTTP 404",
           answered(404, "x"),
           {},
           LogLevel::Error,
           "Failed to get install information: 404",
           21,
           "shelvo: https://apps.example/apps/x answered 404 Not Found: the service has no app "
           "with this bundle identifier, or the service URL is wrong (shelvo-defaults explain "
           "ostrel.shelvo shows it)"},
          {"HTTP 300",
           answered(300, "x"),
           {},
           LogLevel::Error,
           "Failed to get install information: 300",
           21,
           "shelvo: https://apps.example/apps/x answered 300"},
          {"no body",
           answered(200, std::nullopt),
           {},
           LogLevel::Error,
           "Failed to get install information: Unknown error",
           22,
           ""},
          {"not sealed",
           answered(200, "plain"),
           {},
           LogLevel::Error,
           "Error while obtaining install information",
           45,
           ""},
      },
      true);
  EXPECT_EQ(classifyInstallAnswer(answered(404, "x"), kUrl, open).httpStatus, 404);
}

TEST(AnswerClassification, UpdateAnswers) {
  using Reason = platform::NetworkUnavailableReason;
  auto constrained =
      platform::makeURLError(platform::kURLErrorNotConnectedToInternet, "", Reason::Constrained);
  auto expensive =
      platform::makeURLError(platform::kURLErrorNotConnectedToInternet, "", Reason::Expensive);
  auto timedOut = platform::makeURLError(platform::kURLErrorTimedOut, "apps.example");
  platform::RequestError plain;
  plain.isURLError = false;
  plain.localizedDescription = "something else";
  expectRows(
      {
          {"opened", answered(200, "sealed:update"), "update", LogLevel::Error, "", 0, ""},
          {"low data mode",
           failed(constrained),
           {},
           LogLevel::Default,
           "Low Data Mode is enabled. Skipping updates...",
           0,
           ""},
          {"hotspot",
           failed(expensive),
           {},
           LogLevel::Default,
           "Network connection is considered expensive, likely a Personal Hotspot. Skipping "
           "updates...",
           0,
           ""},
          {"not a URL error",
           failed(plain),
           {},
           LogLevel::Error,
           "Failed to get update information: something else",
           20,
           "shelvo: the request to https://apps.example/apps/x failed"},
          {"URL error",
           failed(timedOut),
           {},
           LogLevel::Error,
           "Failed to get update information: 0",
           21,
           "shelvo: the request to https://apps.example/apps/x failed: The request timed out."},
          {"HTTP 404",
           answered(404, "x"),
           {},
           LogLevel::Error,
           "Failed to get update information: 404",
           21,
           "shelvo: https://apps.example/apps/x answered 404 Not Found: the service URL is wrong "
           "(shelvo-defaults explain ostrel.shelvo shows it)"},
          {"HTTP 500",
           answered(500, "x"),
           {},
           LogLevel::Error,
           "Failed to get update information: 500",
           21,
           "shelvo: https://apps.example/apps/x answered 500"},
          {"no body",
           answered(200, std::nullopt),
           {},
           LogLevel::Error,
           "Failed to get update information: Unknown error",
           22,
           ""},
          {"not sealed",
           answered(200, "plain"),
           {},
           LogLevel::Error,
           "Error while obtaining update information",
           45,
           ""},
      },
      false);
}

}  // namespace
}  // namespace shelvo
