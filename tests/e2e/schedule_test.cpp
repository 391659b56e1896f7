// --schedule-enable and --schedule-status against a systemd stand-in on a private bus, for what a
// real manager cannot show, and the shipped units checked by systemd-analyze.
#include <gtest/gtest.h>

#include "tests/e2e/agent_harness.h"
#include "tests/support/paths.h"
#include "tests/support/private_bus.h"

namespace shelvo::test {
namespace {

constexpr const char* kTimer = "ostrel.shelvo.agent.timer";

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

TEST(ShippedUnits, PassSystemdAnalyzeVerify) {
  namespace fs = std::filesystem;
  TempDir root;
  fs::create_directories(root / "usr/bin");
  fs::create_directories(root / "usr/libexec/shelvo");
  fs::copy_file(kAgentBinary, root / "usr/bin/shelvo");
  fs::copy_file(kHelperBinary, root / "usr/libexec/shelvo/ShelvoHelper");
  fs::create_directories(root / "usr/lib/systemd");
  fs::copy("/lib/systemd/system", root / "usr/lib/systemd/system",
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  auto units = root / "usr/lib/systemd/system";
  const char* shipped[] = {"ostrel.shelvo.agent.service", "ostrel.shelvo.agent.timer",
                           "ostrel.shelvo.helper.service", "ostrel.shelvo.helper.socket"};
  for (const char* unit : shipped) {
    fs::copy_file(fs::path(kSourceDir) / "packaging/systemd" / unit, units / unit,
                  fs::copy_options::overwrite_existing);
  }
  auto verify = [&] {
    std::vector<std::string> command{"systemd-analyze", "verify", "--man=no",
                                     "--root=" + root.path().string()};
    for (const char* unit : shipped) command.push_back((units / unit).string());
    return runProgram(command, {});
  };
  auto result = verify();
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.err, "");
  // The check must be able to fail: a misspelt setting is reported.
  writeTextFile(units / kTimer, "[Timer]\nOnCalender=hourly\n[Install]\nWantedBy=timers.target\n");
  EXPECT_NE(verify().err, "");
}

}  // namespace
}  // namespace shelvo::test
