// --schedule-enable and --schedule-status against a systemd stand-in on a private bus, for what a
// real manager cannot show.
#include <gtest/gtest.h>

#include "tests/e2e/agent_harness.h"
#include "tests/support/paths.h"
#include "tests/support/private_bus.h"

namespace shelvo::test {
namespace {

// What a real manager cannot be made to do: a call that fails or takes long, a timer that is
// activating or masked for this boot only. The rest of the state table runs against a real
// manager (schedule_systemd_test.cpp); the messages of each outcome have unit tests.
TEST(ScheduleTest, EnableAndStatusWhereOnlyAStandInCanTakeTheManager) {
  struct Row {
    std::vector<std::string> manager;  // file state, active state [, method, error, message]
    const char* command;
    std::string out;
  };
  const Row rows[] = {
      // A reload that takes long on a large system still ends in success.
      {{"disabled", "inactive", "Reload", "slow", "7"},
       "--schedule-enable",
       "Update schedule is not enabled, trying to enable...\nUpdate schedule is successfully "
       "enabled\n"},
      {{"enabled", "active", "GetUnit", "org.freedesktop.DBus.Error.AccessDenied", "Denied"},
       "--schedule-enable",
       "Unknown error while enabling update schedule\n"},
      {{"enabled", "activating"},
       "--schedule-status",
       "Update schedule is enabled\nUpdate interval in days: 1\n"},
      {{"masked-runtime", "inactive"},
       "--schedule-status",
       "Update Schedule requires user approval in System Settings\n"},
  };
  for (const auto& row : rows) {
    AgentHarness agent;
    agent.storeAuthorization();
    agent.writePreference("ostrel.shelvo", "UpdateInterval", "-int", {"1"});
    PrivateBus bus;
    TempDir scratch;
    auto manager = startStandIn(kFakeSystemdBinary, row.manager, bus.address(), scratch.path());
    agent.environment["DBUS_SYSTEM_BUS_ADDRESS"] = bus.address();
    auto result = agent.run({row.command});
    EXPECT_EQ(result.exitStatus, 0) << row.out;
    EXPECT_EQ(result.out, row.out) << row.manager[0] << " " << row.manager[1];
    EXPECT_EQ(agent.logEntries().empty(), std::string(row.command) == "--schedule-status")
        << "the status command only prints";
  }
}

}  // namespace
}  // namespace shelvo::test
