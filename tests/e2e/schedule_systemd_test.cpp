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
  std::string show(const char* unit, const char* property) {
    auto result = systemd.systemctl({"show", "-p", property, "--value", unit});
    return result.out.substr(0, result.out.find('\n'));
  }
  // A time systemctl shows, in seconds since 1970.
  static long secondsOf(const std::string& shown) {
    auto parsed = runProgram({"date", "-d", shown, "+%s"}, {});
    return parsed.exitStatus == 0 ? std::stol(parsed.out) : 0;
  }
  // The timer's next elapse, and the calendar time it was drawn from.
  long nextElapse() { return secondsOf(show(kTimer, "NextElapseUSecRealtime")); }
  long nextCalendarTime() {
    std::string calendar = show(kTimer, "TimersCalendar");  // "{ OnCalendar=… ; next_elapse=… }"
    auto from = calendar.find("next_elapse=");
    if (from == std::string::npos) return 0;
    from += 12;
    return secondsOf(calendar.substr(from, calendar.find(" }", from) - from));
  }
  void addDropIn(const std::string& unit, const std::string& name, const std::string& text) {
    fs::path folder = systemd.unitFolder() / (unit + ".d");
    fs::create_directories(folder);
    writeTextFile(folder / name, text);
    systemctl({"daemon-reload"});
  }
  bool recorded(const std::string& outcome) const {
    for (const auto& record : agent.runRecords())
      if (record["outcome"] == outcome) return true;
    return false;
  }
  std::string timerState(const char* query) {
    auto result = systemd.systemctl({query, kTimer});
    return result.out.substr(0, result.out.find('\n'));
  }
  ProgramResult status(int interval = 7) {
    agent.writePreference("ostrel.shelvo", "UpdateInterval", "-int", {std::to_string(interval)});
    return agent.run({"--schedule-status"});
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

TEST_F(RealSystemdScheduleTest, TheTimerSpreadsTheFleetAndEachMachineKeepsItsMinute) {
  reset();
  systemctl({"start", kTimer});
  long next = nextElapse();
  long calendar = nextCalendarTime();
  ASSERT_NE(calendar, 0);
  EXPECT_EQ(calendar % 3600, 0) << "hourly";
  EXPECT_GE(next, calendar);
  EXPECT_LT(next, calendar + 3600) << "within the hour after its calendar time";
  // The same minute after a reload and a restart: it comes from the machine, not from chance.
  systemctl({"daemon-reload"});
  EXPECT_EQ(nextElapse(), next);
  systemctl({"stop", kTimer});
  systemctl({"start", kTimer});
  EXPECT_EQ(nextElapse() % 3600, next % 3600);
  EXPECT_EQ(show(kTimer, "AccuracyUSec"), "1us");
}

TEST_F(RealSystemdScheduleTest, AHungRunIsStoppedRecordedAsTimedOutAndTheTimerStartsTheNext) {
  DemoService service;
  agent.writePreference("ostrel.shelvo", "UpdateInterval", "-int", {"1"});
  fs::path again = systemd.scratch() / "again";
  // The first run hangs; the next one is quick.
  service.addScript("update", "if [ ! -e " + again.string() + " ]; then touch " + again.string() +
                                  "; sleep 1000; fi\necho updated\n");
  reset();
  fs::copy_file(fs::path(kSourceDir) / "packaging/systemd" / kService,
                systemd.unitFolder() / kService, fs::copy_options::overwrite_existing);
  std::string environment;
  agent.use(service);
  for (const auto& [name, value] : agent.environment) environment += " " + name + "=" + value;
  // A user manager cannot make the namespaces the hardening needs; the booted-container test
  // runs the service as shipped.
  addDropIn(kService, "agent.conf",
            "[Service]\nExecStart=\nExecStart=" + std::string(kAgentBinary) +
                " --update-schedule\nEnvironment=" + environment +
                "\nProtectKernelModules=no\nProtectKernelLogs=no\nProtectKernelTunables=no\n"
                "ProtectControlGroups=no\nProtectClock=no\nProtectHostname=no\n");
  // Fire soon, and again a second after each run, instead of hourly.
  addDropIn(kTimer, "soon.conf",
            "[Timer]\nOnCalendar=\nRandomizedDelaySec=0\nOnActiveSec=1s\n"
            "OnUnitInactiveSec=1s\n");
  systemctl({"start", kTimer});
  ASSERT_TRUE(eventually([&] { return show(kService, "StatusText") == "Running the script"; }))
      << systemd.systemctl({"status", kService}).out;

  // Two hours, shortened: the run started more than a second ago, so it is over at once.
  addDropIn(kService, "timeout.conf", "[Service]\nTimeoutStartSec=1s\n");
  ASSERT_TRUE(eventually([&] { return recorded("timed-out"); }));
  fs::remove(systemd.unitFolder() / (std::string(kService) + ".d/timeout.conf"));
  systemctl({"daemon-reload"});
  ASSERT_TRUE(eventually([&] { return recorded("updated"); })) << agent.runRecords().size();
  systemctl({"stop", kTimer});
}

}  // namespace
}  // namespace shelvo::test
