// The agent as an operator meets it: the built program, run as a subprocess against a scratch
// root, checked by its output, exit status and log entries.
#include <gtest/gtest.h>

#include "tests/e2e/agent_harness.h"
#include "tests/support/paths.h"

namespace shelvo::test {
namespace {

constexpr const char* kUsage =
    "\n"
    "USAGE\n"
    "shelvo ARGUMENT [options]\n"
    "\n"
    "The following arguments are available:\n"
    "\n"
    "         -i --install BUNDLE_IDENTIFIER                  Install app using the Bundle "
    "Identifier of the app to install\n"
    "         -u --update                                     Update all apps\n"
    "         -h --help                                       Print help\n"
    "         -v --version                                    Print current version\n"
    "\n"
    "OPTIONS\n"
    "         -s --silent                                     Hide user notifications when "
    "installation or update is completed\n"
    "         -d --dock                                       Add app to the end of the user's "
    "Dock\n"
    "         -p --progress                                   Show the download progress\n"
    "\n"
    "UPDATE SCHEDULE\n"
    "         --schedule-status                               Show the app update schedule (macOS "
    "13 or later)\n"
    "\n"
    "EXAMPLES\n"
    "         shelvo --install ostrel.pontiq                                  Install Ostrel "
    "Pontiq\n"
    "\n"
    "         shelvo -i com.google.chrome                                     Install Google "
    "Chrome\n"
    "\n"
    "         shelvo --install ostrel.pontiq --silent                         Install Ostrel "
    "Pontiq and hide user notification\n"
    "\n"
    "         shelvo --update                                                 Update all apps "
    "found in the App Shelvo\n"
    "\n"
    "         shelvo --update --silent                                        Update all apps "
    "found in the App Shelvo and hide user notifications\n"
    "\n";

class AgentCliTest : public ::testing::Test {
 protected:
  void SetUp() override { agent.storeSharedAuthorization(); }
  AgentHarness agent;
};

TEST_F(AgentCliTest, WhatTheCommandLineAsksForIsPrintedWithItsStatus) {
  struct Row {
    std::vector<std::string> arguments;
    int status;
    std::string out;
  };
  const Row rows[] = {
      {{}, 5, std::string("No arguments are given\n\n") + kUsage},
      {{"--help"}, 0, kUsage},
      {{"-h"}, 0, kUsage},
      {{"frobnicate"}, 0, kUsage},
      {{"--silent", "--install", "x"}, 0, kUsage},
      {{"--install"}, 11, "Error: No Bundle Identifier was specified\n"},
      {{"--version"}, 0, "Shelvo Agent version: Unknown (Unknown)\n"},
  };
  for (const auto& row : rows) {
    auto result = agent.run(row.arguments);
    EXPECT_EQ(result.exitStatus, row.status) << row.out;
    EXPECT_EQ(result.out, row.out);
  }
  EXPECT_TRUE(agent.logged("debug", "<private>")) << "the missing arguments are logged";
  agent.installAgentBundle("3.1", "164");
  EXPECT_EQ(agent.run({"-v"}).out, "Shelvo Agent version: 3.1 (164)\n");
}

TEST_F(AgentCliTest, CommandsThatChangeTheSystemRefuseAnUnprivilegedUser) {
  for (const auto& command : {"--install", "-u", "--update", "--update-schedule",
                              "--schedule-enable", "--schedule-disable"}) {
    auto result = agent.runAsNobody({command, "com.example.app"});
    EXPECT_EQ(result.exitStatus, 1) << command << result.err;
    EXPECT_EQ(result.out, "This application must be run as root. Try the sudo command.\n");
  }
  EXPECT_EQ(agent.runAsNobody({"--version"}).exitStatus, 0) << "version needs no root";
}

TEST(AgentCliWait, ACredentialOnlyRootMayReadIsNamedAtOnceWhileTheWaitGoesOn) {
  AgentHarness agent;
  std::filesystem::path managed = agent.root / "etc/shelvo/managed/ostrel.shelvo.plist";
  writeTextFile(managed, credentialPlist("secret"));
  std::filesystem::permissions(managed, std::filesystem::perms(0600));
  for (const auto& folder : {agent.root / "etc", agent.root / "etc/shelvo", managed.parent_path()})
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
  TempDir outputs;
  auto waiting = agent.start({"--schedule-status"}, outputs.path(), "wait", true);
  EXPECT_EQ(awaitFileLine((outputs / "wait.err").string(), 30000),
            "shelvo: " + managed.string() + " is readable by root only: run with sudo");
  EXPECT_EQ(awaitFileLine((outputs / "wait.out").string(), 30000),
            "Authorization not found yet, waiting max 5 minutes...");
}

TEST(DemoService, PrintsItsUsageForHelp) {
  auto result = runProgram({kDemoServiceBinary, "--help"}, {});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(result.out.starts_with("usage: shelvo-demo-service --scripts DIR")) << result.out;
}

}  // namespace
}  // namespace shelvo::test
