// A run as the journal shows it: its id on every entry from start to end, fixed MESSAGE_IDs at
// both ends, and a catalog that explains each of them.
#include "agent/records/run_journal.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/support/capture.h"
#include "tests/support/paths.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace shelvo {
namespace {

TEST(RunJournal, EveryEntryOfARunCarriesItsIdAndTheEndNamesTheOutcome) {
  auto sink = std::make_shared<test::CaptureSink>();
  platform::LogConfig config{sink, false};
  platform::Logger agent(config, "ostrel.shelvo", "Agent");
  platform::Logger runner(config, "ostrel.shelvo", "Agent");  // the script runner's copy
  RunRecord run;
  run.id = makeRunId();
  run.version = "3.1";
  run.command = "install";
  run.bundleIdentifier = "com.example.app";
  agent.log("before the run");
  announceRunStart(agent, run);
  runner.log("%{public}s", {"a line of the script"});
  run.outcome = RunOutcome::FailedAnswer;
  run.agentStatus = 21;
  announceRunEnd(agent, run);
  agent.log("after the run");

  auto entries = sink->records();
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0].runId, "");
  EXPECT_EQ(entries[1].message,
            "Install of com.example.app started (run " + run.id + ", agent 3.1)");
  EXPECT_EQ(entries[1].messageId, kRunStartedMessageId);
  EXPECT_EQ(entries[2].messageId, "");
  EXPECT_EQ(entries[3].message, "Install of com.example.app ended: failed-answer (status 21)");
  EXPECT_EQ(entries[3].messageId, runEndedMessageId(RunOutcome::FailedAnswer));
  EXPECT_EQ(entries[3].level, platform::LogLevel::Error);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(entries[i].runId, run.id) << entries[i].message;
  EXPECT_EQ(entries[4].runId, "") << "the tag ends with the run";
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
