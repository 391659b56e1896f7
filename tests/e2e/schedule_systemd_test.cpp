// The schedule commands against a real systemd manager: each row of the state tables made with
// systemctl, then the agent's lines and what the manager did.
#include <gtest/gtest.h>

#include "tests/e2e/agent_harness.h"
#include "tests/support/paths.h"
#include "tests/support/user_systemd.h"

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTimer = "ostrel.shelvo.agent.timer";
constexpr const char* kService = "ostrel.shelvo.agent.service";
const std::string kNotEnabled =
    "Update schedule is disabled. Run 'shelvo --schedule-enable' to enable\n";

class RealSystemdScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!systemd.running()) GTEST_SKIP() << systemd.whyNotRunning();
    agent.storeAuthorization();
  }

  // A fresh case: the shipped timer, with a service that leaves a mark instead of updating.
  void reset(bool withTimer = true, bool withService = true) {
    systemd.reset({kTimer, kService});
    if (withTimer) {
      fs::copy_file(fs::path(kSourceDir) / "packaging/systemd" / kTimer,
                    systemd.unitFolder() / kTimer);
    }
    if (withService) {
      writeTextFile(systemd.unitFolder() / kService,
                    "[Service]\nType=oneshot\nExecStart=/bin/sh -c 'echo ran > " +
                        (systemd.scratch() / "ran").string() + "'\n");
    }
    ASSERT_EQ(systemd.systemctl({"daemon-reload"}).exitStatus, 0);
  }
  void systemctl(std::vector<std::string> arguments) {
    auto result = systemd.systemctl(arguments);
    ASSERT_EQ(result.exitStatus, 0) << arguments[0] << ": " << result.err;
  }
  std::string timerState(const char* query) {
    auto result = systemd.systemctl({query, kTimer});
    return result.out.substr(0, result.out.find('\n'));
  }
  ProgramResult status(std::optional<int> interval = 7) {
    AgentHarness fresh;
    fresh.storeAuthorization();
    if (interval) {
      fresh.writePreference("ostrel.shelvo", "UpdateInterval", "-int", {std::to_string(*interval)});
    }
    fs::create_directories(fresh.root / "run/systemd");
    fs::create_symlink(agent.root / "run/systemd/private", fresh.root / "run/systemd/private");
    return fresh.run({"--schedule-status"});
  }

  AgentHarness agent;
  UserSystemd systemd{agent.root.path()};
};

TEST_F(RealSystemdScheduleTest, StatusTellsWhetherTheScheduleWillFire) {
  reset(false);
  EXPECT_EQ(status().out, "Update schedule not found\n");

  reset();
  EXPECT_EQ(status().out, kNotEnabled);

  systemctl({"enable", "--now", kTimer});
  EXPECT_EQ(status().out, "Update schedule is enabled\nUpdate interval in days: 7\n");
  EXPECT_EQ(status(1).out, "Update schedule is enabled\nUpdate interval in days: 1\n");
  EXPECT_EQ(status(0).out,
            "Update schedule is disabled. Set 'UpdateInterval' to a value more than 0 to enable\n");

  reset();
  systemctl({"enable", kTimer});  // without --now: enabled, but silent until the next boot
  EXPECT_EQ(timerState("is-enabled"), "enabled");
  EXPECT_EQ(status().out, kNotEnabled);

  reset();
  systemctl({"enable", "--runtime", "--now", kTimer});
  EXPECT_EQ(timerState("is-enabled"), "enabled-runtime");
  EXPECT_EQ(status().out, "Update schedule is enabled\nUpdate interval in days: 7\n");

  reset();
  systemctl({"mask", kTimer});
  EXPECT_EQ(status().out, "Update Schedule requires user approval in System Settings\n");

  reset();
  writeTextFile(systemd.unitFolder() / kTimer, "[Timer]\nOnCalendar=hourly\n");  // no [Install]
  systemctl({"daemon-reload"});
  EXPECT_EQ(timerState("is-enabled"), "static");
  EXPECT_EQ(status().out, "Update schedule is unknown\n");
}

TEST_F(RealSystemdScheduleTest, EnableLeavesTheTimerEnabledAndRunning) {
  reset();
  auto result = agent.run({"--schedule-enable"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out,
            "Update schedule is not enabled, trying to enable...\n"
            "Update schedule is successfully enabled\n");
  EXPECT_EQ(timerState("is-enabled"), "enabled");
  EXPECT_EQ(timerState("is-active"), "active");
  EXPECT_NE(systemd.systemctl({"list-timers", "--all"}).out.find(kTimer), std::string::npos);
  // The timer starts the service it names.
  systemctl({"start", kService});
  EXPECT_EQ(readTextFile(systemd.scratch() / "ran"), "ran\n");

  EXPECT_EQ(agent.run({"--schedule-enable"}).out, "Update schedule is already enabled\n");

  // Enabled without --now: enabling starts it.
  reset();
  systemctl({"enable", kTimer});
  EXPECT_EQ(agent.run({"--schedule-enable"}).out,
            "Update schedule is not enabled, trying to enable...\n"
            "Update schedule is successfully enabled\n");
  EXPECT_EQ(timerState("is-active"), "active");

  reset();
  systemctl({"mask", kTimer});
  EXPECT_EQ(agent.run({"--schedule-enable"}).out,
            "Update schedule requires user approval\n"
            "To allow it, unmask the timer: systemctl unmask ostrel.shelvo.agent.timer\n");
  EXPECT_EQ(timerState("is-enabled"), "masked");

  reset(false);
  EXPECT_EQ(agent.run({"--schedule-enable"}).out,
            "Update schedule not found\nError enabling update schedule\n"
            "org.freedesktop.systemd1.NoSuchUnit: Unit file ostrel.shelvo.agent.timer does not "
            "exist.\n");
}

TEST_F(RealSystemdScheduleTest, AFailedStartIsARegistrationError) {
  reset(true, false);  // the timer's service is missing, so the timer cannot start
  auto result = agent.run({"--schedule-enable"});
  EXPECT_EQ(result.exitStatus, 0);
  const std::string failed = "Job for ostrel.shelvo.agent.timer failed with result '";
  EXPECT_TRUE(
      result.out.starts_with("Update schedule is not enabled, trying to enable...\n"
                             "Error enabling update schedule\n"
                             "org.freedesktop.systemd1.JobFailed: " +
                             failed))
      << result.out;
  EXPECT_EQ(result.out.find(failed + "done'"), std::string::npos);
  EXPECT_TRUE(agent.logged("error", "Error enabling update schedule"));
  bool resultLogged = false;
  for (const auto& message : agent.logMessages())
    resultLogged = resultLogged || message.find(failed) != std::string::npos;
  EXPECT_TRUE(resultLogged);
  EXPECT_NE(timerState("is-active"), "active");
}

TEST_F(RealSystemdScheduleTest, DisableRemovesEveryEnablement) {
  for (bool runtime : {false, true}) {
    reset();
    if (runtime) {
      systemctl({"enable", "--runtime", "--now", kTimer});
    } else {
      systemctl({"enable", "--now", kTimer});
    }
    auto result = agent.run({"--schedule-disable"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "Update schedule is successfully disabled\n");
    EXPECT_EQ(timerState("is-enabled"), "disabled") << runtime;
    EXPECT_EQ(timerState("is-active"), "inactive") << runtime;
    EXPECT_EQ(status().out, kNotEnabled) << runtime;
  }
  reset(false);
  EXPECT_EQ(
      agent.run({"--schedule-disable"}).out,
      "Error disabling update schedule: Unit file ostrel.shelvo.agent.timer does not exist.\n");
}

}  // namespace
}  // namespace shelvo::test
