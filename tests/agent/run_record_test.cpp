// Run records and the metrics built from them, without the agent around them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "agent/records/fleet_metrics.h"
#include "agent/records/run_journal.h"
#include "agent/records/run_totals.h"
#include "platform/env/files.h"
#include "platform/env/posix_env.h"
#include "shared/records/output_recorder.h"
#include "shared/records/run_record.h"
#include "tests/support/capture.h"
#include "tests/support/paths.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace shelvo {
namespace {

RunRecord recordAt(int second, const std::string& command = "install") {
  RunRecord record;
  record.id = makeRunId();
  record.version = "3.1";
  record.command = command;
  record.outcome = RunOutcome::FailedScriptCheck;
  record.message = "Failed to get install information: 404";
  record.bundleIdentifier = "com.example.app";
  record.started = std::chrono::system_clock::from_time_t(1'700'000'000 + second);
  record.ended = record.started + std::chrono::milliseconds(1500);
  record.httpStatus = 200;
  record.scriptStatus = 3;
  record.agentStatus = 0;
  record.outputBytes = 12;
  record.lastLines = {"one", "two"};
  return record;
}

TEST(RunRecords, RoundTripAndKeepTheLastHundred) {
  platform::PosixEnv env;
  test::TempDir folder;
  std::vector<RunRecord> stored;
  for (int i = 0; i < 150; ++i) {
    stored.push_back(recordAt(i));
    ASSERT_TRUE(storeRunRecord(env, stored.back(), folder.path()));
  }
  auto records = loadRunRecords(env, folder.path());
  ASSERT_EQ(records.size(), 100u);
  for (std::size_t i = 0; i < records.size(); ++i)  // the oldest 50 went
    EXPECT_EQ(encodeRunRecord(records[i]), encodeRunRecord(stored[50 + i])) << i;
  EXPECT_EQ(records[0].id.size(), 32u);
  EXPECT_NE(records[0].id, records[1].id);
}

// Removing an old record fails, as on a file made immutable.
class UnremovableEnv final : public platform::EnvWrapper {
 public:
  UnremovableEnv() : EnvWrapper(std::make_shared<platform::PosixEnv>()) {}
  platform::Status removeFile(const platform::Path& path) override {
    return platform::Error{"cannot remove " + path.string()};
  }
};

// Giving a file its group by path never happens, as when the agent is killed just after storing.
class NoGroupByPathEnv final : public platform::EnvWrapper {
 public:
  NoGroupByPathEnv() : EnvWrapper(std::make_shared<platform::PosixEnv>()) {}
  platform::Status setGroup(const platform::Path&, const std::string&) override {
    return platform::Error{"killed"};
  }
};

TEST(RunRecords, ARecordHasItsGroupBeforeItIsInPlace) {
  auto readers = platform::groupNamed("adm");
  if (::geteuid() != 0 || !readers) GTEST_SKIP() << "needs root and the group adm";
  NoGroupByPathEnv env;
  test::TempDir folder;
  ASSERT_TRUE(storeRunRecord(env, recordAt(0), folder.path()));
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    struct ::stat info {};
    ASSERT_EQ(::stat(entry.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_gid, *readers) << entry.path();
    EXPECT_EQ(info.st_mode & 07777, 0640u) << entry.path();
  }
}

TEST(RunRecords, AnOldRecordThatCannotBeRemovedIsReportedAndTheNewOneIsStored) {
  UnremovableEnv env;
  test::TempDir folder;
  ASSERT_TRUE(storeRunRecord(env, recordAt(0), folder.path(), 1));
  auto stored = storeRunRecord(env, recordAt(1), folder.path(), 1);
  ASSERT_FALSE(stored);
  EXPECT_TRUE(stored.error().message.starts_with("the record is stored, but an older one"));
  EXPECT_EQ(loadRunRecords(env, folder.path()).back().started, recordAt(1).started);
}

TEST(RunRecords, RecordsLeftReadableByAllAreSetRightWhenTheOldestOrTheNewestIs) {
  // As an older version left the oldest, or a store cut short the newest; one in between is
  // set right with the oldest.
  for (const std::vector<int>& planted : {std::vector{0}, {3}, {0, 2}}) {
    platform::PosixEnv env;
    test::TempDir folder;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(storeRunRecord(env, recordAt(i), folder.path()));
    std::set<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
      files.insert(entry.path());
    for (int at : planted)
      std::filesystem::permissions(*std::next(files.begin(), at), std::filesystem::perms(0644));
    ASSERT_TRUE(storeRunRecord(env, recordAt(4), folder.path()));
    for (const auto& file : files)
      EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0640))
          << file << " planted at " << planted.front();
  }
}

TEST(RunRecords, ARecordOfAClockSetBackIsKeptAndTheOldestGoes) {
  platform::PosixEnv env;
  test::TempDir folder;
  for (int i = 10; i < 13; ++i) ASSERT_TRUE(storeRunRecord(env, recordAt(i), folder.path(), 3));
  ASSERT_TRUE(storeRunRecord(env, recordAt(5), folder.path(), 3));
  std::vector<long> started;
  for (const auto& record : loadRunRecords(env, folder.path()))
    started.push_back(std::chrono::system_clock::to_time_t(record.started) - 1'700'000'000);
  EXPECT_EQ(started, (std::vector<long>{5, 11, 12}));
}

TEST(RunRecords, RoomMadeWhileTheScriptRanLeavesTheNewRecordAmongTheNewestKept) {
  platform::PosixEnv env;
  test::TempDir folder;
  for (int i = 10; i < 13; ++i) ASSERT_TRUE(storeRunRecord(env, recordAt(i), folder.path(), 3));
  ASSERT_TRUE(makeRoomForRunRecord(env, folder.path(), 3));
  EXPECT_EQ(loadRunRecords(env, folder.path()).size(), 2u);
  // Stored without tidying, even with the clock set back.
  auto prepared = prepareRunRecord(env, recordAt(5), folder.path());
  ASSERT_TRUE(prepared);
  ASSERT_TRUE(env.replaceFiles({&*prepared, 1}).front());
  std::vector<long> started;
  for (const auto& record : loadRunRecords(env, folder.path()))
    started.push_back(std::chrono::system_clock::to_time_t(record.started) - 1'700'000'000);
  EXPECT_EQ(started, (std::vector<long>{5, 11, 12}));
}

TEST(RunRecords, EveryOutcomeHasOneNameAndOneKind) {
  std::string kinds;  // success, skip or failure
  for (int i = 0; i <= static_cast<int>(RunOutcome::TimedOut); ++i) {
    auto outcome = static_cast<RunOutcome>(i);
    EXPECT_EQ(outcomeNamed(outcomeName(outcome)), outcome);
    kinds += "s-f"[static_cast<int>(outcomeKind(outcome))];
  }
  EXPECT_EQ(kinds, "ss------fffff");
  EXPECT_EQ(outcomeNamed("exploded"), std::nullopt);
}

// Every line is in the metrics text.
void expectLines(const std::string& text, std::initializer_list<const char*> lines) {
  for (const char* line : lines) EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

// Whether any piece of secret of six or more characters is in one of the lines.
bool holdsPieceOf(const std::deque<std::string>& lines, const std::string& secret) {
  for (const auto& line : lines) {
    for (std::size_t at = 0; at + 6 <= secret.size(); ++at) {
      if (line.find(secret.substr(at, 6)) != std::string::npos) return true;
    }
  }
  return false;
}

TEST(RunRecords, TheCredentialIsBlankedInTheStreamBeforeLinesAreSplitOrCut) {
  const std::string secret = "demo-credential";
  struct Row {
    const char* what;
    std::vector<std::string> reads;
    std::deque<std::string> lines;
  };
  const Row rows[] = {
      {"split over two reads", {"token=demo-cred", "ential end\n"}, {"token=<private> end"}},
      {"split one byte at a time", {"d", "e", "m", "o", "-", "credential\n"}, {"<private>"}},
      {"pushed over the line cut",
       {std::string(1015, 'x') + secret + "\n"},
       {std::string(1015, 'x') + "<private>"}},
      {"cut in its blank",
       {std::string(1020, 'x') + secret + "\n"},
       {std::string(1020, 'x') + "<pri\u2026"}},
      {"every occurrence",
       {secret + " and " + secret + secret + "\n"},
       {"<private> and <private><private>"}},
      {"at the very end, unfinished line",
       {"key " + secret.substr(0, 4), secret.substr(4)},
       {"key <private>"}},
      {"a line per read, CR LF", {"one\r\n", "two\r\n"}, {"one", "two"}},
  };
  for (const auto& row : rows) {
    OutputRecorder recorder;
    recorder.setSecret(secret);
    for (const auto& read : row.reads) recorder.write(read);
    RunRecord record;
    recorder.copyInto(record);
    EXPECT_EQ(record.lastLines, row.lines) << row.what;
    EXPECT_FALSE(holdsPieceOf(record.lastLines, secret)) << row.what;
  }
  // A secret the blank itself contains is not blanked for ever.
  OutputRecorder recorder;
  recorder.setSecret("private");
  recorder.write("private private\n");
  RunRecord record;
  recorder.copyInto(record);
  EXPECT_EQ(record.lastLines, std::deque<std::string>{"<private> <private>"});
}

TEST(RunRecords, TheRecorderKeepsTheLastLinesEachBounded) {
  OutputRecorder recorder;
  for (int i = 0; i < 60; ++i) recorder.write("line " + std::to_string(i) + "\n");
  RunRecord record;
  recorder.copyInto(record);
  ASSERT_EQ(record.lastLines.size(), RunRecord::kTailLines);
  EXPECT_EQ(record.lastLines.front(), "line 10");
  EXPECT_EQ(record.outputBytes, 470u);

  // One read may hold many lines: the last 50 of them are kept.
  std::string many;
  for (int i = 0; i < 120; ++i) many += "row " + std::to_string(i) + (i < 119 ? "\n" : "");
  recorder.write(many);
  recorder.copyInto(record);
  ASSERT_EQ(record.lastLines.size(), RunRecord::kTailLines);
  EXPECT_EQ(record.lastLines.front(), "row 70");
  EXPECT_EQ(record.lastLines.back(), "row 119");

  // A megabyte without a newline keeps a bounded line, cut at a character.
  recorder.write("\n" + std::string(1 << 20, 'x') + "\xC3\xA9\n");
  recorder.write("a" + std::string(RunRecord::kMaxLineBytes - 2, 'y') + "\xC3\xA9tail");
  recorder.copyInto(record);
  EXPECT_EQ(record.lastLines[RunRecord::kTailLines - 2],
            std::string(RunRecord::kMaxLineBytes, 'x') + "\u2026");
  EXPECT_EQ(record.lastLines.back(),
            "a" + std::string(RunRecord::kMaxLineBytes - 2, 'y') + "\u2026");
  EXPECT_LT(encodeRunRecord(record).size(), 128u * 1024);
}

TEST(FleetMetrics, TheLastRunOfEachCommandAndTheStoredState) {
  FleetState state;
  state.runs = {recordAt(1), recordAt(2, "update-schedule"), recordAt(3)};
  state.runs.back().agentStatus = 21;
  state.updatesAvailable = 4;
  state.scheduleEnabled = true;
  expectLines(renderMetrics(state),
              {"shelvo_last_run_exit_status{command=\"install\"} 21\n",
               "shelvo_last_run_timestamp_seconds{command=\"update-schedule\"} 1700000003\n",
               "shelvo_updates_available 4\n", "shelvo_schedule_enabled 1\n"});
  EXPECT_EQ(renderMetrics({}), "") << "nothing known, nothing claimed";
}

TEST(FleetMetrics, TotalsCountEveryRunAndOutliveThePrunedRecords) {
  struct Row {
    const char* command;
    std::optional<RunOutcome> outcome;
    int agentStatus;
  };
  const Row rows[] = {
      {"update-schedule", RunOutcome::Updated, 0},
      {"update-schedule", RunOutcome::FailedService, 20},
      {"update-schedule", RunOutcome::NotDue, 0},  // a skip: the row of failures goes on
      {"update-schedule", RunOutcome::FailedAnswer, 22},
      {"install", RunOutcome::FailedScriptCheck, 50},
      {"install", RunOutcome::Installed, 0},  // a success ends the row
      {"update", std::nullopt, 0},            // no outcome: the status decides
      {"update", std::nullopt, 23},
  };
  platform::PosixEnv env;
  test::TempDir root;
  int second = 0;
  for (int pass = 0; pass < 15; ++pass) {
    for (const auto& row : rows) {
      auto run = recordAt(++second, row.command);
      run.outcome = row.outcome;
      run.agentStatus = row.agentStatus;
      ASSERT_TRUE(storeRunRecord(env, run, runRecordFolder(root.path())));
      ASSERT_TRUE(addToRunTotals(env, root.path(), run));
    }
  }
  ASSERT_EQ(loadRunRecords(env, runRecordFolder(root.path())).size(), 100u);
  auto totals = loadRunTotals(env, root.path());
  EXPECT_EQ(totals["update-schedule"].runsByOutcome,
            (std::map<std::string, std::uint64_t>{
                {"updated", 15}, {"failed-service", 15}, {"not-due", 15}, {"failed-answer", 15}}))
      << "all 120 runs count, not only the 100 kept records";
  EXPECT_EQ(totals["update-schedule"].consecutiveFailures, 2u);
  EXPECT_EQ(totals["update-schedule"].lastSuccess, 1'700'000'000 + 113 + 1);
  EXPECT_EQ(totals["update-schedule"].lastAttempt, 1'700'000'000 + 116 + 1);
  EXPECT_EQ(totals["install"].consecutiveFailures, 0u);
  EXPECT_EQ(totals["update"].runsByOutcome,
            (std::map<std::string, std::uint64_t>{{"unknown", 30}}));
  EXPECT_EQ(totals["update"].consecutiveFailures, 1u);

  FleetState state;
  state.totals = totals;
  state.updateIntervalDays = 7;
  state.version = "3.1 \"beta\"";
  expectLines(renderMetrics(state),
              {
                  "shelvo_runs_total{command=\"update-schedule\",outcome=\"failed-service\"} 15\n",
                  "shelvo_consecutive_failures{command=\"update-schedule\"} 2\n",
                  "shelvo_consecutive_failures{command=\"install\"} 0\n",
                  "shelvo_last_success_timestamp_seconds{command=\"update-schedule\"} 1700000114\n",
                  "shelvo_last_attempt_timestamp_seconds{command=\"update-schedule\"} 1700000117\n",
                  "shelvo_update_interval_seconds 604800\n",
                  "shelvo_build_info{version=\"3.1 \\\"beta\\\"\"} 1\n",
                  "shelvo_last_run_exit_status{command=\"update\"} 23\n",
                  "# TYPE shelvo_runs_total counter\n",
              });
  auto decoded = decodeRunTotals(encodeRunTotals(totals));
  EXPECT_EQ(decoded.size(), 3u);
  EXPECT_EQ(decoded["update"].lastStatus, 23);
  EXPECT_TRUE(decodeRunTotals("[1,2]").empty());
  EXPECT_TRUE(decodeRunTotals("{\"update\": {\"runs\": {\"updated\": -4}}}")["update"]
                  .runsByOutcome.empty())
      << "a count that cannot be one is left out";
}

// A run as the journal shows it: its id on every entry from start to end, fixed MESSAGE_IDs at
// both ends, and a catalog that explains each of them.
TEST(RunJournal, EveryEntryOfARunCarriesItsIdAndTheEndNamesTheOutcome) {
  auto sink = std::make_shared<test::CaptureSink>();
  platform::LogConfig config{sink, false};
  platform::Logger agent(config, "ostrel.shelvo", "Agent");
  platform::Logger runner(config, "ostrel.shelvo", "Agent");  // the script runner's copy
  RunRecord run = recordAt(0);  // an install of com.example.app by agent 3.1
  agent.log("before the run");
  announceRunStart(agent, run);
  runner.log("%{public}s", {"a line of the script"});
  run.outcome = RunOutcome::FailedAnswer;
  run.agentStatus = 21;
  announceRunEnd(agent, run);
  agent.log("after the run");

  // Each entry as "run id, message id: message", an id of the run shown as "run".
  std::vector<std::string> entries;
  for (const auto& e : sink->records())
    entries.push_back((e.runId == run.id ? "run" : e.runId) + ", " + e.messageId + ": " +
                      e.message);
  const std::string started(kRunStartedMessageId),
      ended(runEndedMessageId(RunOutcome::FailedAnswer));
  ASSERT_EQ(entries,
            (std::vector<std::string>{
                ", : before the run",
                "run, " + started + ": Install of com.example.app started (run " + run.id +
                    ", agent 3.1)",
                "run, : a line of the script",
                "run, " + ended + ": Install of com.example.app ended: failed-answer (status 21)",
                ", : after the run",  // the tag ends with the run
            }));
  EXPECT_EQ(sink->records()[3].level, platform::LogLevel::Error);
}

TEST(RunJournal, TheCatalogExplainsEveryMessageIdOnce) {
  std::set<std::string> ids{std::string(kRunStartedMessageId),
                            std::string(runEndedMessageId(std::nullopt))};
  for (int i = 0; i <= static_cast<int>(RunOutcome::TimedOut); ++i)
    ids.insert(std::string(runEndedMessageId(static_cast<RunOutcome>(i))));
  ASSERT_EQ(ids.size(), 15u) << "one id per outcome, the start and an end without outcome";

  // journalctl builds the catalog database of a root of ours and lists what it understood.
  test::TempDir root;
  auto folder = root / "usr/lib/systemd/catalog";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(std::string(test::kSourceDir) + "/packaging/catalog/shelvo.catalog",
                             folder / "shelvo.catalog");
  auto built =
      test::runProgram({"journalctl", "--root=" + root.path().string(), "--update-catalog"}, {});
  ASSERT_EQ(built.exitStatus, 0) << built.err;
  EXPECT_EQ(built.err, "") << "no line of the catalog is refused";
  auto listed =
      test::runProgram({"journalctl", "--root=" + root.path().string(), "--list-catalog"}, {});
  std::set<std::string> explained;
  std::istringstream lines(listed.out);
  for (std::string line; std::getline(lines, line);) explained.insert(line.substr(0, 32));
  EXPECT_EQ(explained, ids) << listed.out;
}

}  // namespace
}  // namespace shelvo
