// --schedule-enable, --schedule-disable and --schedule-status against a systemd stand-in on a
// private bus, and the shipped units checked by systemd-analyze.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/e2e/agent_harness.h"
#include "tests/support/paths.h"
#include "tests/support/private_bus.h"

namespace shelvo::test {
namespace {

constexpr const char* kTimer = "ostrel.shelvo.agent.timer";

class ScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override { agent.storeAuthorization(); }

  // Starts systemd's stand-in answering GetUnitFileState with state, failing one method if asked.
  void systemd(const std::string& state, std::vector<std::string> failure = {}) {
    manager.reset();  // the last stand-in must give up the name first
    calls = scratch / ("calls-" + std::to_string(++started));
    std::string ready = (scratch / ("ready-" + std::to_string(started))).string();
    std::vector<std::string> arguments{kFakeSystemdBinary, ready, calls.string(), state};
    arguments.insert(arguments.end(), failure.begin(), failure.end());
    manager = std::make_unique<BackgroundProcess>(
        arguments, std::map<std::string, std::string>{{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}});
    awaitFileLine(ready);
    agent.environment["DBUS_SYSTEM_BUS_ADDRESS"] = bus.address();
  }
  std::vector<std::string> madeCalls() {
    std::vector<std::string> lines;
    std::ifstream in(calls);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  AgentHarness agent;
  PrivateBus bus;
  TempDir scratch;
  std::filesystem::path calls;
  int started = 0;
  std::unique_ptr<BackgroundProcess> manager;
};

TEST_F(ScheduleTest, EnableRegistersOnlyWhatIsNotRegistered) {
  struct Row {
    std::string state;
    std::vector<std::string> failure;
    std::string out;
    std::vector<std::string> calls;
  };
  const std::vector<std::string> registration{
      "GetUnitFileState ostrel.shelvo.agent.timer", "EnableUnitFiles ostrel.shelvo.agent.timer 0 0",
      "Reload", "StartUnit ostrel.shelvo.agent.timer replace"};
  const Row rows[] = {
      {"disabled",
       {},
       "Update schedule is not enabled, trying to enable...\nUpdate schedule is successfully "
       "enabled\n",
       registration},
      {"enabled",
       {},
       "Update schedule is already enabled\n",
       {"GetUnitFileState ostrel.shelvo.agent.timer"}},
      {"masked",
       {},
       "Update schedule requires user approval\n"
       "To allow it, unmask the timer: systemctl unmask ostrel.shelvo.agent.timer\n",
       {"GetUnitFileState ostrel.shelvo.agent.timer"}},
      {"notfound",
       {},
       "Update schedule not found\nUpdate schedule is successfully enabled\n",
       registration},
      {"notfound",
       {"EnableUnitFiles", "org.freedesktop.systemd1.NoSuchUnit",
        "Unit file ostrel.shelvo.agent.timer does not exist."},
       "Update schedule not found\nError enabling update schedule\n"
       "org.freedesktop.systemd1.NoSuchUnit: Unit file ostrel.shelvo.agent.timer does not exist.\n",
       {"GetUnitFileState ostrel.shelvo.agent.timer",
        "EnableUnitFiles ostrel.shelvo.agent.timer 0 0"}},
      {"static",
       {},
       "Unknown error while enabling update schedule\n",
       {"GetUnitFileState ostrel.shelvo.agent.timer"}},
  };
  for (const auto& row : rows) {
    systemd(row.state, row.failure);
    auto result = agent.run({"--schedule-enable"});
    EXPECT_EQ(result.exitStatus, 0) << row.state;
    EXPECT_EQ(result.out, row.out) << row.state;
    EXPECT_EQ(madeCalls(), row.calls) << row.state;
  }
  EXPECT_TRUE(agent.logged("error", "Update schedule not found"));
  bool categorized = false;
  for (const auto& entry : agent.logEntries()) {
    if (entry["message"] == "Update schedule is successfully enabled") {
      categorized = entry["category"] == "LaunchDaemon";
    }
  }
  EXPECT_TRUE(categorized);
}

TEST_F(ScheduleTest, DisableUnregistersWhateverTheState) {
  systemd("disabled");
  auto result = agent.run({"--schedule-disable"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "Update schedule is successfully disabled\n");
  EXPECT_EQ(madeCalls(),
            (std::vector<std::string>{"DisableUnitFiles ostrel.shelvo.agent.timer 0",
                                      "StopUnit ostrel.shelvo.agent.timer replace", "Reload"}));
  systemd("notfound", {"DisableUnitFiles", "org.freedesktop.systemd1.NoSuchUnit",
                       "Unit file ostrel.shelvo.agent.timer does not exist."});
  auto failed = agent.run({"--schedule-disable"});
  EXPECT_EQ(failed.exitStatus, 0);
  EXPECT_EQ(
      failed.out,
      "Error disabling update schedule: Unit file ostrel.shelvo.agent.timer does not exist.\n");
}

TEST_F(ScheduleTest, StatusPrintsTheStateAndTheInterval) {
  struct Row {
    std::string state;
    std::optional<std::string> interval;
    std::string out;
  };
  const Row rows[] = {
      {"disabled", {}, "Update schedule is disabled. Run 'shelvo --schedule-enable' to enable\n"},
      {"enabled", "7", "Update schedule is enabled\nUpdate interval in days: 7\n"},
      {"enabled", "0",
       "Update schedule is disabled. Set 'UpdateInterval' to a value more than 0 to enable\n"},
      {"enabled",
       {},
       "Update schedule is disabled. Set 'UpdateInterval' to a value more than 0 to enable\n"},
      {"masked", {}, "Update Schedule requires user approval in System Settings\n"},
      {"notfound", {}, "Update schedule not found\n"},
      {"linked", {}, "Update schedule is unknown\n"},
  };
  for (const auto& row : rows) {
    AgentHarness fresh;
    fresh.storeAuthorization();
    if (row.interval)
      fresh.writePreference("ostrel.shelvo", "UpdateInterval", "-int", {*row.interval});
    systemd(row.state);
    fresh.environment["DBUS_SYSTEM_BUS_ADDRESS"] = bus.address();
    auto result = fresh.run({"--schedule-status"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, row.out) << row.state;
    EXPECT_TRUE(fresh.logEntries().empty()) << "the status command only prints";
  }
}

TEST_F(ScheduleTest, WithoutSystemdTheStateIsUnknown) {
  agent.environment["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + (scratch / "none").string();
  EXPECT_EQ(agent.run({"--schedule-status"}).out, "Update schedule is unknown\n");
  EXPECT_EQ(agent.run({"--schedule-enable"}).out, "Unknown error while enabling update schedule\n");
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
