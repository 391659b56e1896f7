// --schedule-enable, --schedule-disable and --schedule-status against a systemd stand-in on a
// private bus, for what a real manager cannot show, and the shipped units checked by
// systemd-analyze.
#include <gtest/gtest.h>

#include "tests/e2e/agent_harness.h"
#include "tests/support/paths.h"
#include "tests/support/private_bus.h"

namespace shelvo::test {
namespace {

constexpr const char* kTimer = "ostrel.shelvo.agent.timer";

class ScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override { agent.storeAuthorization(); }

  struct Manager {
    Manager(std::string file, std::string active = "inactive", std::string job = "done",
            std::vector<std::string> fail = {})  // NOLINT: rows are written as braced lists
        : fileState(std::move(file)),
          activeState(std::move(active)),
          jobResult(std::move(job)),
          failure(std::move(fail)) {}
    std::string fileState;
    std::string activeState;
    std::string jobResult;
    std::vector<std::string> failure;  // method, error name, message
  };
  // Starts systemd's stand-in in the given state.
  void systemd(const Manager& state) {
    manager.reset();  // the last stand-in must give up the name first
    calls = scratch / ("calls-" + std::to_string(++started));
    std::vector<std::string> arguments{calls.string(), state.fileState, state.activeState,
                                       state.jobResult};
    arguments.insert(arguments.end(), state.failure.begin(), state.failure.end());
    manager = startStandIn(kFakeSystemdBinary, arguments, bus.address(), scratch.path());
    agent.environment["DBUS_SYSTEM_BUS_ADDRESS"] = bus.address();
  }
  std::vector<std::string> madeCalls() { return linesOf(readTextFile(calls)); }

  AgentHarness agent;
  PrivateBus bus;
  TempDir scratch;
  std::filesystem::path calls;
  int started = 0;
  std::unique_ptr<BackgroundProcess> manager;
};

const std::string kStateCall = "GetUnitFileState ostrel.shelvo.agent.timer";
const std::string kActiveCall = "GetUnit ostrel.shelvo.agent.timer";
const std::vector<std::string> kRegistration{"EnableUnitFiles ostrel.shelvo.agent.timer 0 0",
                                             "Reload",
                                             "StartUnit ostrel.shelvo.agent.timer replace"};

std::vector<std::string> join(std::vector<std::string> first,
                              const std::vector<std::string>& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

// What a real manager cannot be made to do: fail a chosen call, a job ending with an unusual
// result, a unit that appears between two calls, states it never reports for a timer.
TEST_F(ScheduleTest, EnableRegistersOnlyWhatIsNotRegistered) {
  struct Row {
    Manager state;
    std::string out;
    std::vector<std::string> calls;
  };
  const Row rows[] = {
      {{"notfound"},
       "Update schedule not found\nUpdate schedule is successfully enabled\n",
       join({kStateCall}, kRegistration)},
      {{"disabled",
        "inactive",
        "done",
        {"Reload", "org.freedesktop.DBus.Error.AccessDenied", "Access denied"}},
       "Update schedule is not enabled, trying to enable...\nError enabling update schedule\n"
       "org.freedesktop.DBus.Error.AccessDenied: Access denied\n",
       {kStateCall, "EnableUnitFiles ostrel.shelvo.agent.timer 0 0", "Reload"}},
      // A reload that takes long on a large system still ends in success.
      {{"disabled", "inactive", "done", {"Reload", "slow", "7"}},
       "Update schedule is not enabled, trying to enable...\nUpdate schedule is successfully "
       "enabled\n",
       join({kStateCall}, kRegistration)},
      {{"disabled", "inactive", "timeout"},
       "Update schedule is not enabled, trying to enable...\nError enabling update schedule\n"
       "org.freedesktop.systemd1.JobFailed: Job for ostrel.shelvo.agent.timer failed with "
       "result 'timeout'.\n",
       join({kStateCall}, kRegistration)},
      {{"static"}, "Unknown error while enabling update schedule\n", {kStateCall}},
      {{"enabled",
        "active",
        "done",
        {"GetUnit", "org.freedesktop.DBus.Error.AccessDenied", "Access denied"}},
       "Unknown error while enabling update schedule\n",
       {kStateCall, kActiveCall}},
  };
  for (const auto& row : rows) {
    systemd(row.state);
    auto result = agent.run({"--schedule-enable"});
    EXPECT_EQ(result.exitStatus, 0) << row.state.fileState;
    EXPECT_EQ(result.out, row.out) << row.state.fileState;
    EXPECT_EQ(madeCalls(), row.calls) << row.state.fileState;
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

TEST_F(ScheduleTest, ADisableThatFailsPartWayStopsThereAndSaysWhy) {
  systemd({"enabled",
           "active",
           "done",
           {"StopUnit", "org.freedesktop.DBus.Error.AccessDenied", "Access denied"}});
  auto result = agent.run({"--schedule-disable"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "Error disabling update schedule: Access denied\n");
  EXPECT_EQ(madeCalls(), (std::vector<std::string>{"DisableUnitFiles ostrel.shelvo.agent.timer 0",
                                                   "DisableUnitFiles ostrel.shelvo.agent.timer 1",
                                                   "StopUnit ostrel.shelvo.agent.timer replace"}));
}

TEST_F(ScheduleTest, StatusPrintsTheStateAndTheInterval) {
  struct Row {
    Manager state;
    std::optional<std::string> interval;
    std::string out;
  };
  const std::string off =
      "Update schedule is disabled. Set 'UpdateInterval' to a value more than 0 to enable\n";
  const Row rows[] = {
      {{"enabled", "activating"}, "1", "Update schedule is enabled\nUpdate interval in days: 1\n"},
      {{"enabled", "active"}, "-3", off},
      {{"enabled", "active"}, {}, off},
      {{"enabled", "failed"},
       "7",
       "Update schedule is disabled. Run 'shelvo --schedule-enable' to enable\n"},
      {{"masked-runtime"}, {}, "Update Schedule requires user approval in System Settings\n"},
      {{"linked"}, {}, "Update schedule is unknown\n"},
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
    EXPECT_EQ(result.out, row.out) << row.state.fileState << " " << row.state.activeState;
    EXPECT_TRUE(fresh.logEntries().empty()) << "the status command only prints";
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
