// Each row of the service answer tables, as a pure function from the transfer result to what
// the agent does: run the script, or log and print a message and end with a status.
#include <gtest/gtest.h>

#include "agent/service/answer_classification.h"
#include "tests/support/test_agent_platform.h"

namespace shelvo {
namespace {

using platform::LogLevel;
using test::answered;
using test::failed;

constexpr std::string_view kUrl = "https://apps.example/apps/x";

// Opens "sealed:TEXT" to TEXT; anything else does not open.
std::optional<std::string> open(std::string_view body) {
  if (!body.starts_with("sealed:")) return std::nullopt;
  return std::string(body.substr(7));
}

// An answer that is refused: the status it ends with, what is logged and printed, and the hint on
// standard error (empty for none). A status of 0 is a skip, logged at the default level.
struct Row {
  platform::DataTaskResult result;
  int status;
  std::string message;
  std::string hint;
};

void expectRows(const std::vector<Row>& rows, bool install) {
  auto classify = install ? classifyInstallAnswer : classifyUpdateAnswer;
  EXPECT_EQ(classify(answered(200, "sealed:echo hi"), kUrl, open).script, "echo hi");
  for (const auto& row : rows) {
    auto outcome = classify(row.result, kUrl, open);
    EXPECT_EQ(outcome.script, std::nullopt) << row.message;
    EXPECT_EQ(outcome.level, row.status == 0 ? LogLevel::Default : LogLevel::Error) << row.message;
    EXPECT_EQ(outcome.message, row.message);
    EXPECT_EQ(outcome.status, row.status) << row.message;
    EXPECT_EQ(outcome.hint.value_or(""), row.hint) << row.message;
  }
}

TEST(AnswerClassification, InstallAnswers) {
  auto timedOut = platform::makeURLError(platform::kURLErrorTimedOut, "apps.example");
  expectRows(
      {
          {failed(timedOut), 20, "Failed to get install information: The request timed out.",
           "shelvo: the request to https://apps.example/apps/x failed"},
          {platform::DataTaskResult(), 21, "",
           "shelvo: https://apps.example/apps/x gave no HTTP answer"},
          {answered(401, "x"), 21, "Failed to get install information: 401",
           "shelvo: https://apps.example/apps/x answered 401 Unauthorized: the service did not "
           "accept the credential (key \"authorization\" of domain ostrel.shelvo; "
           "shelvo-defaults explain ostrel.shelvo shows where it comes from)"},
          {answered(403, "x"), 21, "Failed to get install information: 403",
           "shelvo: https://apps.example/apps/x answered 403 Forbidden: the service knows the "
           "credential but does not allow it this request; ask whoever runs the service"},
          {answered(404, "x"), 21, "Failed to get install information: 404",
           "shelvo: https://apps.example/apps/x answered 404 Not Found: the service has no app "
           "with this bundle identifier, or the service URL is wrong (shelvo-defaults explain "
           "ostrel.shelvo shows it)"},
          {answered(300, "x"), 21, "Failed to get install information: 300",
           "shelvo: https://apps.example/apps/x answered 300"},
          {answered(200, std::nullopt), 22, "Failed to get install information: Unknown error", ""},
          {answered(200, "plain"), 45, "Error while obtaining install information", ""},
      },
      true);
  EXPECT_EQ(classifyInstallAnswer(answered(404, "x"), kUrl, open).httpStatus, 404);
}

TEST(AnswerClassification, UpdateAnswers) {
  using Reason = platform::NetworkUnavailableReason;
  auto offline = [](Reason reason) {
    return failed(platform::makeURLError(platform::kURLErrorNotConnectedToInternet, "", reason));
  };
  auto timedOut = platform::makeURLError(platform::kURLErrorTimedOut, "apps.example");
  platform::RequestError plain;
  plain.isURLError = false;
  plain.localizedDescription = "something else";
  expectRows(
      {
          {offline(Reason::Constrained), 0, "Low Data Mode is enabled. Skipping updates...", ""},
          {offline(Reason::Expensive), 0,
           "Network connection is considered expensive, likely a Personal Hotspot. Skipping "
           "updates...",
           ""},
          {failed(plain), 20, "Failed to get update information: something else",
           "shelvo: the request to https://apps.example/apps/x failed"},
          {failed(timedOut), 21, "Failed to get update information: 0",
           "shelvo: the request to https://apps.example/apps/x failed: The request timed out."},
          {answered(404, "x"), 21, "Failed to get update information: 404",
           "shelvo: https://apps.example/apps/x answered 404 Not Found: the service URL is wrong "
           "(shelvo-defaults explain ostrel.shelvo shows it)"},
          {answered(500, "x"), 21, "Failed to get update information: 500",
           "shelvo: https://apps.example/apps/x answered 500"},
          {answered(200, std::nullopt), 22, "Failed to get update information: Unknown error", ""},
          {answered(200, "plain"), 45, "Error while obtaining update information", ""},
      },
      false);
}

}  // namespace
}  // namespace shelvo
