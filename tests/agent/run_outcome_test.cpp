// Every way an install, update or scheduled run ends leaves a record with its outcome class,
// driven through the Env: answers, clock, battery and stop signals are the test's own.
#include <gtest/gtest.h>
#include <csignal>
#include <functional>
#include <limits>

#include "agent/configuration.h"
#include "agent/records/fleet_reporting.h"
#include "agent/records/run_totals.h"
#include "agent/schedule/update_schedule.h"
#include "platform/system/run_lock.h"
#include "shared/sealing/decryption_keys.h"
#include "tests/support/controller_fixture.h"
#include "tools/demo-service/sealing.h"

namespace shelvo {
namespace {

namespace fs = std::filesystem;

using test::answered;
using enum RunOutcome;

platform::DataTaskResult sealed(const std::string& script) {
  return answered(200, demo::sealText(script, DecryptionKeys::keyText));
}

platform::DataTaskResult failed(
    int code, std::optional<platform::NetworkUnavailableReason> why = std::nullopt) {
  return test::failed(platform::makeURLError(code, "apps.example", why));
}

class RunOutcomeTest : public test::ControllerTest {
 public:  // the rows' set-ups reach in
  void SetUp() override {
    ControllerTest::SetUp();
    fresh();
  }
  // A machine of its own: a new root holding the credential and an interval of one day, a clock
  // at kNow and a service answering with a script.
  void fresh() {
    root = std::make_unique<test::TempDir>();
    env = std::make_shared<test::TestEnv>();
    env->fixedNow = std::chrono::system_clock::time_point(std::chrono::seconds(kNow));
    services = answers = std::make_shared<test::AnsweringServices>();
    zshPath = "/bin/zsh";
    set("ostrel.shelvo", "authorization", platform::makeString("token"));
    set("ostrel.shelvo", "UpdateInterval", platform::makeInteger(1));
    answers->answer = sealed("echo ran");
  }
  void supply(const std::string& name, const std::map<std::string, std::string>& attributes) {
    for (const auto& [attribute, value] : attributes)
      test::writeTextFile(*root / "sys/class/power_supply" / name / attribute, value);
  }
  // Runs "shelvo arguments..." a minute after the last run; the status it ended with.
  int run(const std::vector<std::string>& arguments) {
    *env->fixedNow += std::chrono::minutes(1);
    return dispatch(arguments);
  }
  std::vector<RunRecord> records() const {
    return loadRunRecords(*env, runRecordFolder(root->path()));
  }
  // A full folder: a hundred records older than any run's, unreadable as records.
  void plantOldRecords() const {
    const auto folder = runRecordFolder(root->path());
    fs::create_directories(folder);
    for (int i = 0; i < 100; ++i)
      test::writeTextFile(folder / ("2020-01-01T0000" + std::to_string(10 + i) + ".000Z-1.json"),
                          "{}");
  }
  long recordFiles() const {
    const auto folder = runRecordFolder(root->path());
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
  }

  std::shared_ptr<test::AnsweringServices> answers;
};

using Arrange = std::function<void(RunOutcomeTest&)>;
Arrange answering(const platform::DataTaskResult& answer) {
  return [answer](RunOutcomeTest& t) { t.answers->answer = answer; };
}
Arrange setting(const char* domain, const char* key, std::int64_t value) {
  return [=](RunOutcomeTest& t) { t.set(domain, key, platform::makeInteger(value)); };
}

TEST_F(RunOutcomeTest, EachWayARunEndsHasItsOutcomeClass) {
  const std::vector<std::string> install{"--install", "com.example.app"};
  const std::vector<std::string> scheduled{"--update-schedule"};
  struct Row {
    const char* name;
    std::vector<std::string> arguments;
    Arrange setUp;
    int status;
    RunOutcome outcome;
    std::optional<std::string> message;
    bool requested = true;
  };
  const Row rows[] = {
      {"installed", install, {}, 0, Installed, std::nullopt},
      {"updated", scheduled, {}, 0, Updated, std::nullopt},
      {"not due", scheduled, setting("ostrel.shelvo.agent", "LastUpdated", kNow), 0, NotDue,
       "Skipping updates...", false},
      {"disabled", scheduled, setting("ostrel.shelvo", "UpdateInterval", 0), 0, Disabled,
       "Update schedule is disabled. Skipping updates...", false},
      {"offline", scheduled, answering(failed(platform::kURLErrorCannotFindHost)), 21,
       DeferredOffline,
       "Failed to get update information: 0 (A server with the specified hostname could not be "
       "found.)"},
      {"metered", scheduled,
       answering(failed(platform::kURLErrorNotConnectedToInternet,
                        platform::NetworkUnavailableReason::Constrained)),
       0, DeferredMetered, "Low Data Mode is enabled. Skipping updates..."},
      {"on battery", scheduled,
       [](RunOutcomeTest& t) {
         t.set("ostrel.shelvo", "SkipUpdatesOnBattery", platform::makeBool(true));
         t.supply("BAT0", {{"type", "Battery\n"}, {"status", "Discharging\n"}});
       },
       0, DeferredBattery, "Running on battery power. Skipping updates...", false},
      {"service timed out", scheduled, answering(failed(platform::kURLErrorTimedOut)), 21,
       FailedService, "Failed to get update information: 0 (The request timed out.)"},
      {"credential refused", install, answering(answered(401, "no")), 21, FailedService,
       "Failed to get install information: 401 (Unauthorized: the service did not accept the "
       "credential)"},
      {"unopenable answer", install, answering(answered(200, "not sealed")), 45, FailedAnswer,
       "Error while obtaining install information"},
      {"script refused", install, answering(sealed("if true; then\n")), 50, FailedScriptCheck,
       "Installation information was invalid, exiting"},
      {"script not started", install,
       [](RunOutcomeTest& t) {
         // A zsh that passes the check, while the run's stops listening before it is told to go.
         t.zshPath = (*t.root / "zsh").string();
         test::writeTextFile(
             t.zshPath,
             "#!/bin/sh\n"
             "if [ \"$1\" = -c ]; then exec 4<&-; : > \"$0.deaf\"; exec sleep 60; fi\n"
             "until [ -e \"$0.deaf\" ]; do sleep 0.01; done\n"
             "cat /dev/fd/3 >/dev/null\n");
         fs::permissions(t.zshPath, fs::perms::owner_all);
       },
       23, FailedScriptStart, "Error installing com.example.app: cannot hand the script to zsh: "},
      {"stopped while requesting", scheduled,
       [](RunOutcomeTest& t) { t.answers->onRequest = [&t] { t.env->stopRun(SIGTERM); }; }, 143,
       TimedOut, "Stopped by SIGTERM before the run ended"},
  };
  for (const auto& row : rows) {
    fresh();
    if (row.setUp) row.setUp(*this);
    EXPECT_EQ(run(row.arguments), row.status) << row.name << "\n" << console->text();
    auto stored = records();
    ASSERT_EQ(stored.size(), 1u) << row.name;
    EXPECT_EQ(stored[0].outcome, row.outcome) << row.name;
    // The start of it: what follows may name a scratch path.
    EXPECT_EQ(stored[0].message.has_value(), row.message.has_value()) << row.name;
    EXPECT_TRUE(stored[0].message.value_or("").starts_with(row.message.value_or("")))
        << row.name << ": " << stored[0].message.value_or("");
    EXPECT_EQ(stored[0].agentStatus, row.status) << row.name;
    EXPECT_EQ(answers->requested.size(), row.requested ? 1u : 0u) << row.name;
    auto totals = loadRunTotals(*env, root->path());
    EXPECT_EQ(totals[row.arguments[0].substr(2)].runsByOutcome,
              (std::map<std::string, std::uint64_t>{{std::string(outcomeName(row.outcome)), 1}}))
        << row.name;
  }
}

TEST_F(RunOutcomeTest, AnUpdateRunSaysWhenItLastRanAndItsInterval) {
  set("ostrel.shelvo", "UpdateInterval", platform::makeInteger(7));
  set("ostrel.shelvo.agent", "LastUpdated", platform::makeInteger(kNow - 2 * 3600 - 60));
  EXPECT_EQ(run({"--update"}), 0);
  EXPECT_EQ(console->text(),
            "Checking for application updates...\n"
            "Last Updated: 2023-11-14 20:12:20 +0000\n"
            "Hours since last update: 2\n"
            "Configured update interval in days: 7\n"
            "Skipping updates...\n");
  auto messages = sink->messages();
  EXPECT_NE(std::find(messages.begin(), messages.end(), "Update interval in hours: 167"),
            messages.end());
  // Never updated, with an interval of 0: from the start of 1970, one day, so due.
  fresh();
  set("ostrel.shelvo", "UpdateInterval", platform::makeInteger(0));
  EXPECT_EQ(run({"--update"}), 0);
  EXPECT_TRUE(
      console->text().starts_with("Checking for application updates...\n"
                                  "Last Updated: 1970-01-01 00:00:00 +0000\n"
                                  "Hours since last update: 472222\n"
                                  "Using default update interval in days: 1\n"))
      << console->text();
  EXPECT_EQ(answers->requested.size(), 1u);
}

TEST_F(RunOutcomeTest, AScheduledRunWaitsHalfAnHourForAnotherThenIsBusy) {
  plantOldRecords();  // each run keeps the newest hundred, its own among them
  std::optional<platform::RunLock> lock;
  auto opened = platform::RunLock::open(*root / "run/shelvo/agent.lock");
  ASSERT_TRUE(opened);
  lock = std::move(*opened);
  auto taken = lock->tryLock();
  ASSERT_TRUE(taken && *taken);
  // A holder text naming a live process that is not shelvo (this test) is not repeated.
  ASSERT_TRUE(lock->writeHolder("pid " + std::to_string(::getpid()) + ", shelvo --install x"));
  EXPECT_EQ(run({"--update-schedule"}), 0);
  EXPECT_EQ(env->slept.size(), 1800u) << "a second apart";
  EXPECT_TRUE(answers->requested.empty());
  auto stored = records();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].outcome, Busy);
  EXPECT_EQ(recordFiles(), 100);
  EXPECT_EQ(console->text(),
            "shelvo: waiting for the run in progress to end\n"
            "Another run is still in progress after 30 minutes. Skipping "
            "updates...\n");

  // The other run ends while this one waits: it goes on.
  env->slept.clear();
  env->onSleep = [&] { lock.reset(); };
  EXPECT_EQ(run({"--update-schedule"}), 0);
  EXPECT_EQ(env->slept.size(), 1u);
  EXPECT_EQ(records().back().outcome, Updated);
  EXPECT_EQ(recordFiles(), 100);
}

TEST_F(RunOutcomeTest, ABusyRunStoredAfterTheHolderMadeRoomLeavesThatRoom) {
  // With the count stored the folder keeps 100; with no count to tell the holder of the busy
  // record, each store leaves room for another.
  for (bool countable : {true, false}) {
    fresh();
    plantOldRecords();
    auto p = platform("root");
    platform::Logger logger(p.log, kSubsystem, "Agent");
    FleetReporting holder(p, logger, std::make_shared<OutputRecorder>(), "1.0");
    FleetReporting busy(p, logger, std::make_shared<OutputRecorder>(), "1.0");
    ASSERT_EQ(holder.beginRun("install", "com.example.app", false), RunTurn::Taken);
    holder.makeRoomForRecord();  // as its script runs
    if (!countable) fs::create_directories(*root / "var/lib/shelvo/run-totals.json");
    *env->fixedNow += std::chrono::minutes(1);  // records are named by their start
    ASSERT_EQ(busy.beginRun("update-schedule", std::nullopt, true), RunTurn::Busy);
    busy.noteOutcome(Busy);
    busy.finishRun(0);
    holder.noteOutcome(Installed);
    holder.finishRun(0);
    EXPECT_EQ(recordFiles(), countable ? 100 : 99);
    auto stored = records();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].outcome, Installed);  // named by start, the holder's first
    EXPECT_EQ(stored[1].outcome, Busy);
  }
}

TEST_F(RunOutcomeTest, ASkippedScheduledRunIsRecordedOncePerReasonAndDay) {
  fs::create_directories(*root / "var/lib/prometheus/node-exporter");
  set("ostrel.shelvo.agent", "LastUpdated", platform::makeInteger(kNow));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(run({"--update-schedule"}), 0);
  EXPECT_EQ(run({"--update"}), 0) << "a manual run is always recorded";
  set("ostrel.shelvo", "UpdateInterval", platform::makeInteger(0));
  EXPECT_EQ(run({"--update-schedule"}), 0);
  EXPECT_EQ(run({"--update-schedule"}), 0);
  set("ostrel.shelvo", "UpdateInterval", platform::makeInteger(1));
  *env->fixedNow += std::chrono::hours(20);  // the next day (UTC), still not due
  EXPECT_EQ(run({"--update-schedule"}), 0);
  EXPECT_EQ(run({"--update-schedule"}), 0);
  std::vector<std::pair<std::string, RunOutcome>> kept;
  for (const auto& record : records()) kept.emplace_back(record.command, *record.outcome);
  EXPECT_EQ(kept, (std::vector<std::pair<std::string, RunOutcome>>{
                      {"update-schedule", NotDue},
                      {"update", NotDue},
                      {"update-schedule", Disabled},
                      {"update-schedule", NotDue},
                  }));
  // The metrics count every skip, each one dropped from the records included.
  std::string metrics = test::readTextFile(*root / "var/lib/prometheus/node-exporter/shelvo.prom");
  std::string last = std::to_string(
      std::chrono::duration_cast<std::chrono::seconds>(env->fixedNow->time_since_epoch()).count());
  for (const std::string& series : std::vector<std::string>{
           "shelvo_runs_total{command=\"update-schedule\",outcome=\"not-due\"} 5\n",
           "shelvo_runs_total{command=\"update-schedule\",outcome=\"disabled\"} 2\n",
           "shelvo_last_attempt_timestamp_seconds{command=\"update-schedule\"} " + last + "\n",
           "shelvo_last_run_timestamp_seconds{command=\"update-schedule\"} " + last + "\n",
       }) {
    EXPECT_NE(metrics.find(series), std::string::npos) << series << " in\n" << metrics;
  }
}

TEST_F(RunOutcomeTest, OnlyADischargingSystemBatteryWithoutLinePowerDefers) {
  using Supplies = std::map<std::string, std::map<std::string, std::string>>;
  const Supplies battery{{"BAT0", {{"type", "Battery"}, {"status", "Discharging"}}}};
  struct Row {
    const char* name;
    Supplies supplies;
    bool deferred;
  };
  const Row rows[] = {
      {"on battery", battery, true},
      {"no supply", {}, false},
      {"mains", {{"AC", {{"type", "Mains"}, {"online", "1"}}}}, false},
      {"charging",
       {{"BAT0", {{"type", "Battery"}, {"status", "Charging"}}},
        {"AC", {{"type", "Mains"}, {"online", "1"}}}},
       false},
      {"unknown kind", {{"UPS0", {{"type", "UPS"}, {"status", "Discharging"}}}}, false},
      {"a mouse's battery",
       {{"hid-mouse", {{"type", "Battery"}, {"scope", "Device"}, {"status", "Discharging"}}}},
       false},
  };
  for (const auto& row : rows) {
    fresh();
    set("ostrel.shelvo", "SkipUpdatesOnBattery", platform::makeBool(true));
    for (const auto& [name, attributes] : row.supplies) supply(name, attributes);
    EXPECT_EQ(run({"--update-schedule"}), 0) << row.name;
    EXPECT_EQ(answers->requested.empty(), row.deferred) << row.name;
  }
  // Without the setting, or run by hand, a battery changes nothing.
  fresh();
  for (const auto& [name, attributes] : battery) supply(name, attributes);
  EXPECT_EQ(run({"--update-schedule"}), 0);
  set("ostrel.shelvo", "SkipUpdatesOnBattery", platform::makeBool(true));
  EXPECT_EQ(run({"--update"}), 0);
  EXPECT_EQ(answers->requested.size(), 2u);
}

// When an update run is due, from the schedule's values alone.
constexpr std::int64_t kNow = test::ControllerTest::kNow;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

TEST(UpdateScheduleTest, ARunIsDueFromTheThresholdHourOn) {
  struct Row {
    std::int64_t configuredDays;
    std::optional<std::int64_t> secondsAgo;  // absent: never updated
    bool switchedOff;
    std::int64_t intervalDays;
    std::int64_t thresholdHours;
    std::int64_t hours;
    bool due;
  };
  const Row rows[] = {
      {1, 22 * 3600 + 3599, false, 1, 23, 22, false},  // whole hours, truncated
      {1, 23 * 3600, false, 1, 23, 23, true},
      {1, 23 * 3600 + 1800, false, 1, 23, 23, true},
      {7, 166 * 3600 + 3599, false, 7, 167, 166, false},
      {7, 167 * 3600, false, 7, 167, 167, true},
      {1, -2 * 3600 - 1, false, 1, 23, -2, false},  // a last update in the future
      {0, 23 * 3600, true, 1, 23, 23, true},        // switched off, yet one day for a manual run
      {-3, 22 * 3600, false, 1, 23, 22, false},     // below one day counts as one
      {1, std::nullopt, false, 1, 23, kNow / 3600, true},  // never: the start of 1970
      {kMax / 2, 0, false, kMax / 2, kMax, 0, false},      // too large to count in hours
  };
  const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(kNow));
  for (const auto& row : rows) {
    std::optional<std::int64_t> last;
    if (row.secondsAgo) last = kNow - *row.secondsAgo;
    const UpdateSchedule schedule(row.configuredDays, last);
    SCOPED_TRACE(testing::Message() << row.configuredDays << " days, "
                                    << (row.secondsAgo ? *row.secondsAgo : -1) << " s ago");
    EXPECT_EQ(schedule.switchedOff(), row.switchedOff);
    EXPECT_EQ(schedule.usesDefaultInterval(), row.configuredDays < 1);
    EXPECT_EQ(schedule.intervalDays(), row.intervalDays);
    EXPECT_EQ(schedule.thresholdHours(), row.thresholdHours);
    EXPECT_EQ(schedule.hoursSinceLastUpdate(now), row.hours);
    EXPECT_EQ(schedule.isDue(now), row.due);
  }
}

}  // namespace
}  // namespace shelvo
