// What standard error tells an operator at once, beside the fixed standard output, log entries
// and statuses: what a refusing service meant, and that the credential sits where only root may
// read it. (Which settings file was left out and why: untrusted_input_test.cpp.)
#include <gtest/gtest.h>

#include "tests/e2e/agent_harness.h"
#include "tests/support/background_process.h"
#include "tests/support/https_server.h"
#include "tests/support/paths.h"

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

TEST(OperatorHintsTest, RefusalsOfTheServiceAreExplainedWithTheURLTried) {
  TempDir scratch;
  HttpsServer server((scratch / "ca.pem").string());
  // /apps/<status> and the update request answer with that status.
  server.routes().Get(R"(/apps/(\d+))", [](const httplib::Request& request, auto& response) {
    response.status = std::stoi(request.matches[1]);
  });
  server.routes().Get("/apps/update/",
                      [](const httplib::Request&, auto& response) { response.status = 401; });
  server.start();
  AgentHarness agent;
  agent.storeAuthorization();
  agent.use(server.url(), (scratch / "ca.pem").string());
  struct Row {
    std::vector<std::string> arguments;
    std::string printed;  // the last line printed, also logged at error level
    std::string hint;
  };
  const std::vector<Row> rows{
      {{"--install", "404"},
       "Failed to get install information: 404",
       " answered 404 Not Found: the service has no app with this bundle identifier, or the "
       "service URL is wrong (shelvo-defaults explain ostrel.shelvo shows it)"},
      {{"--update"},
       "Failed to get update information: 401",
       " answered 401 Unauthorized: the service did not accept the credential (key "
       "\"authorization\" of domain ostrel.shelvo; shelvo-defaults explain ostrel.shelvo shows "
       "where it comes from)"},
  };
  for (const auto& row : rows) {
    std::string url = row.arguments.size() > 1
                          ? server.url() + "/apps/" + row.arguments[1] +
                                "?notification=true&dock=false&progress=false"
                          : server.url() + "/apps/update/?notification=true&progress=false";
    auto result = agent.run(row.arguments);
    EXPECT_EQ(result.exitStatus, 21) << row.printed;
    EXPECT_TRUE(result.out.ends_with("\n" + row.printed + "\n") || result.out == row.printed + "\n")
        << result.out;
    EXPECT_TRUE(agent.logged("error", row.printed)) << row.printed;
    EXPECT_EQ(result.err, "shelvo: " + url + row.hint + "\n");
  }
}

TEST(OperatorHintsTest, ACredentialOnlyRootMayReadIsNamedAtOnceWhileTheWaitGoesOn) {
  AgentHarness agent;
  fs::path managed = agent.root / "etc/shelvo/managed/ostrel.shelvo.plist";
  writeTextFile(managed, credentialPlist("secret"));
  fs::permissions(managed, fs::perms(0600));
  for (const auto& folder : {agent.root / "etc", agent.root / "etc/shelvo", managed.parent_path()})
    fs::permissions(folder, fs::perms(0755));
  TempDir outputs;
  std::vector<std::string> command{
      "sh", "-c",
      "exec \"$@\" > " + (outputs / "out").string() + " 2> " + (outputs / "err").string(), "sh"};
  for (auto& argument : agent.nobodyCommand({"--schedule-status"})) command.push_back(argument);
  BackgroundProcess waiting(command, agent.environment);

  EXPECT_EQ(awaitFileLine((outputs / "err").string(), 30000),
            "shelvo: " + managed.string() + " is readable by root only: run with sudo");
  EXPECT_EQ(awaitFileLine((outputs / "out").string(), 30000),
            "Authorization not found yet, waiting max 5 minutes...");
}

TEST(OperatorHintsTest, TheDemoServicePrintsItsUsageForHelp) {
  auto result = runProgram({kDemoServiceBinary, "--help"}, {});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(result.out.starts_with("usage: shelvo-demo-service --scripts DIR")) << result.out;
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace shelvo::test
