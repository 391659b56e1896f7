// shelvo --update and --update-schedule against the demo service, with a NetworkManager
// stand-in on a private bus.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/e2e/agent_harness.h"
#include "tests/support/paths.h"
#include "tests/support/private_bus.h"

namespace shelvo::test {
namespace {

std::int64_t secondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class UpdateRunTest : public ServedAgentTest {
 protected:
  void SetUp() override {
    service.addScript("update", "echo 'Updating Example'\nexit 3\n");
    // No NetworkManager: an ordinary network.
    agent.environment["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + (scratch / "no-bus").string();
  }
};

TEST_F(UpdateRunTest, AnUpdateRunsTheServicesScriptAndEndsWith0) {
  auto result = agent.run({"--update"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_NE(result.out.find("Updating Example\nUpdates completed!\n"), std::string::npos)
      << result.out;
  auto requests = service.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["target"], "/apps/update/?notification=true&progress=false");
  EXPECT_EQ(requests[0]["headers"]["User-Agent"], "Shelvo Agent/Unknown");
}

// When a run is due has its unit table; here, that the interval and the agent's last update are
// read where they are kept, and that a run not due makes no request.
TEST_F(UpdateRunTest, AScheduledRunThatIsNotDueOrSwitchedOffMakesNoRequest) {
  auto off = agent.run({"--update-schedule"});  // no UpdateInterval: switched off
  EXPECT_EQ(off.out, "Checking for application updates...\n");
  EXPECT_TRUE(agent.logged("default", "Update schedule is disabled. Skipping updates..."));
  agent.writePreference("ostrel.shelvo", "UpdateInterval", "-int", {"1"});
  agent.writePreference("ostrel.shelvo.agent", "LastUpdated", "-int",
                        {std::to_string(secondsNow() - 22 * 3600 - 1800)});
  auto skipped = agent.run({"--update-schedule"});
  EXPECT_EQ(skipped.exitStatus, 0);
  EXPECT_NE(skipped.out.find("Hours since last update: 22\n"), std::string::npos);
  EXPECT_NE(skipped.out.find("Skipping updates...\n"), std::string::npos);
  EXPECT_TRUE(service.requests().empty());
}

TEST_F(UpdateRunTest, HiddenNotificationsReachTheScheduledRunsQuery) {
  agent.writePreference("ostrel.shelvo", "UpdateInterval", "-int", {"1"});
  agent.writePreference("ostrel.shelvo", "HideUpdateNotifications", "-bool", {"true"});
  EXPECT_EQ(agent.run({"--update-schedule"}).exitStatus, 0);
  EXPECT_EQ(agent.run({"--update", "-p"}).exitStatus, 0);
  auto requests = service.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]["target"], "/apps/update/?notification=false&progress=false");
  EXPECT_EQ(requests[1]["target"], "/apps/update/?notification=true&progress=true")
      << "a manual run takes its choice from the command line";
}

TEST_F(UpdateRunTest, RestrictedNetworksSkipUnlessAllowed) {
  struct Row {
    int metered;
    const char* allowKey;
    const char* skip;  // null: the request is sent
  };
  const Row rows[] = {
      {1, nullptr, "Low Data Mode is enabled. Skipping updates..."},
      {3, nullptr,
       "Network connection is considered expensive, likely a Personal Hotspot. Skipping "
       "updates..."},
      {1, "AllowUpdatesContrainedNetworks", nullptr},
      {3, "AllowUpdatesConstrainedNetworks", nullptr},
      {2, nullptr, nullptr},  // explicitly not metered
      {4, nullptr, nullptr},  // guessed not metered
  };
  std::size_t sent = 0;
  for (const auto& row : rows) {
    AgentHarness fresh;
    fresh.storeAuthorization();
    fresh.use(service);
    if (row.allowKey != nullptr)
      fresh.writePreference("ostrel.shelvo", row.allowKey, "-bool", {"YES"});
    PrivateBus bus;
    auto manager = startStandIn(kFakeNetworkManagerBinary, {std::to_string(row.metered)},
                                bus.address(), scratch.path());
    fresh.environment["DBUS_SYSTEM_BUS_ADDRESS"] = bus.address();
    auto result = fresh.run({"--update"});
    EXPECT_EQ(result.exitStatus, 0) << row.metered;
    if (row.skip != nullptr) {
      EXPECT_NE(result.out.find(std::string(row.skip) + "\n"), std::string::npos) << result.out;
      EXPECT_EQ(service.requests().size(), sent) << "no request on a refused network";
    } else {
      EXPECT_NE(result.out.find("Updates completed!"), std::string::npos) << row.metered;
      EXPECT_EQ(service.requests().size(), ++sent);
    }
  }
}

}  // namespace
}  // namespace shelvo::test
