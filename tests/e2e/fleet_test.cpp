// What an administrator of many machines relies on: run records and shelvo-report, metrics for
// node_exporter, one root run at a time, a wait that says what it waits for; and what systemd
// and logind see of a run: the step it is at (sd_notify STATUS=), and the helper's logind delay
// lock for shutdown and sleep while a script runs, held from a logind stand-in on a private
// system bus (the booted-container test shows the agent's, and the journal, for real).
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>

#include "platform/system/run_lock.h"
#include "tests/e2e/agent_harness.h"
#include "tests/e2e/helper_fixture.h"
#include "tests/support/paths.h"
#include "tests/support/private_bus.h"
#include "tests/support/user_systemd.h"

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

using FleetTest = ServedAgentTest;

TEST_F(FleetTest, EveryRunLeavesARecordAndNoneHoldsTheCredential) {
  service.addScript("com.example.ok", "echo installing\necho the credential is demo-credential\n");
  service.addScript("com.example.fails", "echo trying\nexit 3\n");
  EXPECT_EQ(agent.run({"--install", "com.example.ok"}).exitStatus, 0);
  EXPECT_EQ(agent.run({"--install", "com.example.fails"}).exitStatus, 0);
  auto unknown = agent.run({"--install", "com.example.unknown"});
  EXPECT_EQ(unknown.exitStatus, 21);
  // What the refusal meant goes to standard error, with the URL tried.
  EXPECT_TRUE(unknown.err.starts_with("shelvo: " + service.url() +
                                      "/apps/com.example.unknown?notification=true&dock=false&"
                                      "progress=false answered 404 Not Found: the service has"))
      << unknown.err;
  EXPECT_EQ(agent.run({"--version"}).exitStatus, 0) << "changes nothing, records nothing";
  auto runs = agent.runRecords();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0]["command"], "install");
  EXPECT_EQ(runs[0]["bundle_identifier"], "com.example.ok");
  EXPECT_EQ(runs[0]["http_status"], 200);
  EXPECT_EQ(runs[0]["script_status"], 0);
  EXPECT_EQ(runs[0]["agent_status"], 0);
  EXPECT_EQ(runs[0]["last_lines"],
            nlohmann::json::array({"installing", "the credential is <private>"}));
  EXPECT_EQ(runs[1]["script_status"], 3);
  EXPECT_EQ(runs[1]["agent_status"], 0);
  EXPECT_EQ(runs[2]["http_status"], 404);
  EXPECT_TRUE(runs[2]["script_status"].is_null());
  EXPECT_EQ(runs[2]["agent_status"], 21);
  for (const auto& entry : fs::directory_iterator(agent.root / "var/lib/shelvo/runs"))
    EXPECT_EQ(readTextFile(entry.path()).find("demo-credential"), std::string::npos);

  // The journal ties a run's entries, the script's output among them, to its record; the start
  // and end entries have their unit test.
  auto tagged = [&](const nlohmann::json& run, const std::string& message) {
    auto entries = agent.logEntries();
    return std::any_of(entries.begin(), entries.end(), [&](const nlohmann::json& entry) {
      return entry.value("run_id", "") == run["id"] &&
             entry["message"].get<std::string>().starts_with(message);
    });
  };
  EXPECT_TRUE(tagged(runs[0], "installing"));
  EXPECT_TRUE(tagged(runs[2], "Failed to get install information: 404"));

  std::map<std::string, std::string> reportEnvironment{{"SHELVO_ROOT", agent.root.path().string()}};
  auto table = runProgram({kReportBinary}, reportEnvironment);
  EXPECT_EQ(table.exitStatus, 0);
  EXPECT_NE(table.out.find("com.example.unknown"), std::string::npos) << table.out;
  auto json = runProgram({kReportBinary, "--json", "--last", "2"}, reportEnvironment);
  auto parsed = nlohmann::json::parse(json.out);
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed[1]["agent_status"], 21);

  // One run in full, found by the start of its id as the table shows it.
  std::string id = runs[0]["id"];
  auto one = runProgram({kReportBinary, "--run", id.substr(0, 8)}, reportEnvironment);
  EXPECT_EQ(one.exitStatus, 0) << one.err;
  EXPECT_NE(one.out.find("  the credential is <private>\n"), std::string::npos) << one.out;
  EXPECT_NE(one.out.find("Journal:  journalctl SHELVO_RUN_ID=" + id + "\n"), std::string::npos);
  auto oneJson = runProgram({kReportBinary, "--json", "--run", id}, reportEnvironment);
  EXPECT_EQ(nlohmann::json::parse(oneJson.out)["journal_command"],
            "journalctl SHELVO_RUN_ID=" + id);
  struct Refusal {
    std::vector<std::string> arguments;
    int status;
    const char* says;
  };
  const Refusal refusals[] = {
      {{"--run", "0123456789abcdef0123456789abcdef"}, 1, "no run with id 0123456789abcdef"},
      {{"--last"}, 2, "--last needs a number of runs"},
      {{"--last", "--json"}, 2, "--last needs a positive number, not \"--json\""},
      {{"--run"}, 2, "--run needs a run id"},
      {{"--about", "--json"}, 2, "--about takes no other argument"},
  };
  for (const auto& refusal : refusals) {
    std::vector<std::string> command{kReportBinary};
    command.insert(command.end(), refusal.arguments.begin(), refusal.arguments.end());
    auto refused = runProgram(command, reportEnvironment);
    EXPECT_EQ(refused.exitStatus, refusal.status) << refusal.says;
    EXPECT_NE(refused.err.find(refusal.says), std::string::npos) << refused.err;
  }
}

TEST_F(FleetTest, MetricsForNodeExporterPassPromtool) {
  fs::path collected = agent.root / "var/lib/prometheus/node-exporter";
  fs::create_directories(collected);
  service.addScript("com.example.ok", "echo ok\n");
  agent.run({"--install", "com.example.ok"});
  agent.run({"--install", "com.example.unknown"});
  agent.writePreference("ostrel.shelvo", "UpdateInterval", "-int", {"3"});
  agent.run({"--update"});
  std::string metrics = readTextFile(collected / "shelvo.prom");
  for (const char* series : {
           "shelvo_last_run_exit_status{command=\"install\"} 21\n",
           "shelvo_runs_total{command=\"install\",outcome=\"",
           "shelvo_update_interval_seconds 259200\n",
           "shelvo_build_info{version=\"Unknown\"} 1\n",
       }) {
    EXPECT_NE(metrics.find(series), std::string::npos) << series << " in\n" << metrics;
  }
  EXPECT_EQ(metrics.find("shelvo_last_run_script_status{command=\"install\"}"), std::string::npos)
      << "the status of the last run that ran a script stays out when the last ran none";
  auto checked = runProgram(
      {"sh", "-c", "promtool check metrics < " + (collected / "shelvo.prom").string()}, {});
  EXPECT_EQ(checked.exitStatus, 0) << checked.out << checked.err;
  std::vector<std::string> leftovers;
  for (const auto& entry : fs::directory_iterator(collected)) leftovers.push_back(entry.path());
  EXPECT_EQ(leftovers.size(), 1u) << "no temporary file is left for the collector";
}

TEST_F(FleetTest, RootRunsTakeTurnsAndADeadRunReleasesItsTurn) {
  fs::path order = scratch / "order";
  service.addScript("com.example.turn", "echo start >> " + order.string() +
                                            "\nsleep 0.4\necho end >> " + order.string() + "\n");
  auto first = agent.start({"--install", "com.example.turn"}, scratch.path(), "first");
  auto second = agent.start({"--install", "com.example.turn"}, scratch.path(), "second");
  EXPECT_EQ(first->waitForExit(std::chrono::seconds(20)), 0);
  EXPECT_EQ(second->waitForExit(std::chrono::seconds(20)), 0);
  EXPECT_EQ(readTextFile(order), "start\nend\nstart\nend\n");
  std::string waited = readTextFile(scratch / "first.err") + readTextFile(scratch / "second.err");
  EXPECT_NE(waited.find("shelvo: waiting for the run in progress (pid "), std::string::npos)
      << waited;
  EXPECT_NE(waited.find("shelvo --install com.example.turn) to end"), std::string::npos);

  // A run killed outright holds nothing: the kernel drops its lock.
  fs::path started = scratch / "started";
  service.addScript("com.example.stuck", "touch " + started.string() + "\nsleep 5\n");
  auto stuck = agent.start({"--install", "com.example.stuck"}, scratch.path(), "stuck");
  ASSERT_TRUE(eventually([&] { return fs::exists(started); }));
  ::kill(stuck->pid(), SIGKILL);
  stuck->waitForExit(std::chrono::seconds(5));
  service.addScript("com.example.next", "echo next\n");
  auto next = agent.run({"--install", "com.example.next"});
  EXPECT_EQ(next.exitStatus, 0);
  EXPECT_EQ(next.out, "next\n");
}

// What a script prints of the locks logind holds.
constexpr const char* kListInhibitors =
    "busctl --address=\"$DBUS_SYSTEM_BUS_ADDRESS\" call org.freedesktop.login1 "
    "/org/freedesktop/login1 org.freedesktop.login1.Manager ListInhibitors";

std::string heldBy(const std::string& who) {
  return "a(ssssuu) 1 \"shutdown:sleep\" \"" + who +
         "\" \"A script installing or updating apps is running\" \"delay\" 0 0";
}

// logind's stand-in on a system bus of the test's own.
class Logind {
 public:
  Logind() : process_(startStandIn(kFakeLogindBinary, {}, bus_.address(), scratch_.path())) {}
  const std::string& address() const { return bus_.address(); }
  std::string inhibitors() const {
    auto listed =
        runProgram({"sh", "-c", kListInhibitors}, {{"DBUS_SYSTEM_BUS_ADDRESS", address()}});
    return listed.out.substr(0, listed.out.find('\n'));
  }

 private:
  TempDir scratch_;
  PrivateBus bus_;
  std::unique_ptr<BackgroundProcess> process_;
};

TEST_F(FleetTest, SystemdIsToldEachStepOfTheRun) {
  NotifySocket notify(scratch / "notify");
  agent.environment["NOTIFY_SOCKET"] = notify.path().string();
  service.addScript("com.example.app", "echo ok\n");
  // Another run holds the lock until this one has said that it waits.
  std::optional<platform::RunLock> lock;
  auto opened = platform::RunLock::open(agent.root / "run/shelvo/agent.lock");
  ASSERT_TRUE(opened);
  lock = std::move(*opened);
  ASSERT_TRUE(*lock->tryLock());
  ASSERT_TRUE(lock->writeHolder("pid 1, shelvo --update"));  // not a shelvo: not named
  BackgroundProcess run({kAgentBinary, "--install", "com.example.app"}, agent.environment);
  EXPECT_EQ(notify.next(), "STATUS=Waiting for the run in progress to end");
  lock.reset();
  EXPECT_EQ(run.waitForExit(std::chrono::seconds(30)), 0);
  EXPECT_EQ(notify.next(), "STATUS=Requesting install information");
  EXPECT_EQ(notify.next(), "STATUS=Checking the script");
  EXPECT_EQ(notify.next(), "STATUS=Running the script");
}

TEST_F(HelperTest, TheHelperHoldsBackShutdownWhileAScriptRuns) {
  Logind logind;
  // The helper takes the test's environment, with this bus in it.
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", logind.address().c_str(), 1);
  startHelper();
  auto result = run("good", {std::string("run:") + kListInhibitors});
  ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  EXPECT_EQ(result.out, "reply 0\n");
  EXPECT_EQ(helper->waitForExit(std::chrono::seconds(30)), 0);
  EXPECT_TRUE(hasLogged("default", heldBy("ShelvoHelper")));
  EXPECT_EQ(logind.inhibitors(), "a(ssssuu) 0");
}

}  // namespace
}  // namespace shelvo::test
