#include "shared/script-runner/script_runner.h"
#include "tests/support/capture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/env/unique_fd.h"
#include "shared/script-runner/script_process.h"
#include "tests/support/temp_dir.h"

namespace shelvo {
namespace {

using test::CapturedConsole;
using test::CaptureSink;

class ScriptRunnerTest : public ::testing::Test {
 protected:
  // The child of a death test is forked where it stands, so it writes to this test's folders.
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "fast"); }

  ScriptRunner runner(const std::string& zsh = "/bin/zsh") {
    return ScriptRunner(platform::Logger({sink, false}, "ostrel.shelvo", "Agent"), console, zsh);
  }
  // The agent's way: the zsh of the check and of the run start before the script is known.
  platform::Result<ScriptOutcome> install(std::string_view script,
                                          const std::string& zsh = "/bin/zsh") {
    auto agentRunner = runner(zsh);
    auto launch = agentRunner.prepare();
    return agentRunner.runScript(script, "Installing app...", std::move(launch));
  }
  std::vector<std::string> scriptEntries() {
    std::vector<std::string> entries;
    for (const auto& record : sink->records()) {
      if (record.level == platform::LogLevel::Default && record.message != "<private>") {
        entries.push_back(record.message);
      }
    }
    return entries;
  }

  std::shared_ptr<CaptureSink> sink = std::make_shared<CaptureSink>();
  std::shared_ptr<CapturedConsole> console = std::make_shared<CapturedConsole>();
};

// A syntax error is refused with 50 and nothing of it runs; a check that cannot start, with 51.
TEST_F(ScriptRunnerTest, ARefusedScriptNeverRuns) {
  test::TempDir dir;
  auto outcome = install("touch " + (dir / "ran").string() + "\nif true; then\n");
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->kind, ScriptOutcome::Kind::InvalidSyntax);
  EXPECT_EQ(outcome->refusalStatus(), 50);
  EXPECT_FALSE(std::filesystem::exists(dir / "ran"));
  // The progress message, "%s", comes before the check.
  EXPECT_EQ(sink->messages(), (std::vector<std::string>{
                                  "<private>", "Installation information was invalid, exiting"}));
  outcome = install("echo hi", "/nonexistent/zsh");
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->kind, ScriptOutcome::Kind::CheckNotStarted);
  EXPECT_EQ(outcome->refusalStatus(), 51);
}

TEST_F(ScriptRunnerTest, SyntaxVerdictsMatchZshsParser) {
  // Past the pipe's size too: zsh that stops reading at an early error does not hold the check.
  const std::string longLine = "#" + std::string(3 << 20, 'x') + "\n";
  const std::vector<std::string> refusedThenAccepted[2] = {
      {"echo 'unclosed", "echo $(", "echo ${", "f() {", "fi", "}", ")", "echo a |",
       "fi\n" + longLine},
      {"echo a &&", "cat <<EOF", "[[ -n ]]", "((1+))", "exit 3", "", "echo ok\n# comment",
       longLine + "exit 3"}};
  for (bool accepted : {false, true}) {
    for (const auto& script : refusedThenAccepted[accepted]) {
      auto status = SyntaxCheck::start("/bin/zsh").verdict(script);
      ASSERT_TRUE(status);
      EXPECT_EQ(*status == 0, accepted) << script.substr(0, 20);
    }
  }
}

// A zsh that was killed, or ended well without reading the whole text, gave no verdict.
TEST_F(ScriptRunnerTest, ACheckThatDidNotParseTheWholeTextIsNoVerdict) {
  test::TempDir dir;
  for (const char* standIn : {"#!/bin/sh\nexit 0\n", "#!/bin/sh\nkill -KILL $$\n"}) {
    test::writeTextFile(dir / "zsh", standIn);
    std::filesystem::permissions(dir / "zsh", std::filesystem::perms::owner_all);
    auto status = SyntaxCheck::start(dir / "zsh").verdict(std::string(3 << 20, '\n'));
    EXPECT_FALSE(status) << standIn;
  }
}

// What the log and the console get: one entry a write, standard output only, characters split
// between reads carried, a chunk that is not UTF-8 dropped, an unfinished last line ended; the
// script sees no extra descriptor nor arguments.
TEST_F(ScriptRunnerTest, EachWriteIsOneEntryOfStandardOutput) {
  struct Row {
    const char* script;
    std::vector<std::string> entries;
    const char* console;
  };
  const Row rows[] = {
      {"printf 'a\\nb'", {"a\nb"}, "a\nb\n"},  // the unfinished last line too
      {"echo a; sleep 0.3; echo b; sleep 0.3; printf '\\n\\n'", {"a", "b", ""}, "a\nb\n\n"},
      {"echo hidden >&2; echo shown", {"shown"}, "shown\n"},
      {"printf 'caf\\xc3'; sleep 0.3; printf '\\xa9\\n'; sleep 0.3; printf 'bad \\xff\\n'; "
       "sleep 0.3; echo next",
       {"caf", "é", "next"},
       "caf\né\nnext\n"},
      {"[[ -e /proc/$$/fd/3 ]] && fd=open || fd=closed; echo \"$0 $# fd3-$fd ${+__shelvo_s}\"",
       {"/bin/zsh 0 fd3-closed 0"},
       "/bin/zsh 0 fd3-closed 0\n"},
  };
  for (const auto& row : rows) {
    sink = std::make_shared<CaptureSink>();
    console = std::make_shared<CapturedConsole>();
    EXPECT_TRUE(install(row.script));
    EXPECT_EQ(scriptEntries(), row.entries) << row.script;
    EXPECT_EQ(console->text(), row.console) << row.script;
  }
}

TEST_F(ScriptRunnerTest, TheHelperCopyReportsTheExitStatus) {
  std::vector<std::int32_t> statuses;
  for (const char* script : {"exit 3", "echo fine", "kill -TERM $$", "return 5"}) {
    auto outcome = runner().runScript(script);
    ASSERT_TRUE(outcome && outcome->ran()) << script;
    statuses.push_back(outcome->exitStatus);
  }
  EXPECT_EQ(statuses, (std::vector<std::int32_t>{3, 0, SIGTERM, 5}));
}

// The command line of a process, or nothing once it has gone. Not through a stream: reading the
// command line of a process that just ended fails, and the stream throws on that.
std::string commandLineOf(const std::filesystem::path& process) {
  platform::UniqueFd file(::open((process / "cmdline").c_str(), O_RDONLY | O_CLOEXEC));
  std::string text;
  char buffer[4096];
  for (ssize_t got; file && (got = ::read(file.get(), buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(got));
  return text;
}

TEST_F(ScriptRunnerTest, ALargeScriptRunsAndNeverAppearsInAnyCommandLine) {
  const std::string marker = "shelvo-marker-" + std::to_string(::getpid());
  test::TempDir scratch;
  const auto gate = scratch / "gate";
  ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
  // The script waits at the gate until every process has been looked at once while it runs.
  std::string script = "# " + marker + "\n: '" + std::string(2 * 1024 * 1024, 'x') + "'\n";
  script += "echo started; read -r _ < " + gate.string() + "; echo done";
  std::atomic<bool> finished = false;
  std::jthread run([&] {
    EXPECT_TRUE(install(script));
    finished = true;
  });
  bool seen = false;
  bool released = false;
  while (!finished) {
    bool running = console->text() == "started\n";
    // Processes come and go while /proc is listed: a vanished entry ends this pass, not the test.
    std::error_code error;
    for (std::filesystem::directory_iterator entry("/proc", error), end; !error && entry != end;
         entry.increment(error)) {
      if (commandLineOf(entry->path()).find(marker) != std::string::npos) seen = true;
    }
    if (running && !released) {
      // Without blocking: fails until the script has opened the gate to read.
      platform::UniqueFd opener(::open(gate.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
      released = opener && ::write(opener.get(), "\n", 1) == 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  run.join();
  EXPECT_FALSE(seen);
  EXPECT_EQ(console->text(), "started\ndone\n");
}

TEST_F(ScriptRunnerTest, ABackgroundChildHoldingThePipeDoesNotDelayTheReturn) {
  // Waiting for the pipe to close would outlast the test's time limit; returning after the
  // child ended would find it gone. Either way the child must still be there.
  EXPECT_TRUE(install("sleep 3600 & echo $!"));
  std::string pid = console->text();
  ASSERT_FALSE(pid.empty());
  EXPECT_EQ(::kill(std::stoi(pid), 0), 0) << "the run waited for its background child";
  ::kill(std::stoi(pid), SIGKILL);
}

TEST_F(ScriptRunnerTest, ALaunchFailureIsReportedWithoutHanging) {
  auto status =
      executeScript(PreparedRun::start("/nonexistent/zsh"), "echo hi", [](std::string_view) {});
  ASSERT_FALSE(status);
  EXPECT_NE(status.error().message.find("No such file"), std::string::npos);
}

// zsh is up before the script is known, and runs none of it until told to go. A zsh stopped as the
// script is handed over (the watch is told its process first, and here zsh has ended before the
// word) was never handed the script: the run fails to start, never reports a status of a script
// that did not run, and runs none of it; one never handed a script is reaped without running
// anything.
TEST_F(ScriptRunnerTest, APreparedRunRunsNothingBeforeItIsToldToGo) {
  test::TempDir dir;
  auto ran = dir / "ran";
  auto stopAtStart = [](pid_t pid) {
    ::kill(pid, SIGTERM);
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
  };
  auto status = executeScript(PreparedRun::start("/bin/zsh"), "touch " + ran.string(),
                              [](std::string_view) {},
                              {.started = stopAtStart, .running = {}, .wrote = {}, .secret = {}});
  ASSERT_FALSE(status);
  EXPECT_NE(status.error().message.find("cannot hand the script to zsh"), std::string::npos);
  { auto unused = PreparedRun::start("/bin/zsh"); }
  // The agent dies with the script in place but before the word: zsh ends with 126, running
  // nothing. The orphaned zsh comes back to this process, so its end is waited for by pid with
  // no reaper racing the wait and no pid reused.
  auto pidFile = dir / "pid";
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  EXPECT_EXIT(
      {
        auto run = PreparedRun::start("/bin/zsh");
        (void)run.handOver("touch " + ran.string(), [&](pid_t pid) {
          test::writeTextFile(pidFile, std::to_string(pid));
          ::_exit(0);
        });
      },
      ::testing::ExitedWithCode(0), "");
  pid_t zsh = std::stoi(test::readTextFile(pidFile));
  int ended = 0;
  EXPECT_EQ(::waitpid(zsh, &ended, 0), zsh);
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  EXPECT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == 126) << ended;
  EXPECT_FALSE(std::filesystem::exists(ran));
}

TEST_F(ScriptRunnerTest, ScriptsRunInParallelKeepTheirOwnOutputAndStatus) {
  std::vector<std::int32_t> statuses(2, -1);
  std::shared_ptr<CapturedConsole> outs[2] = {std::make_shared<CapturedConsole>(),
                                              std::make_shared<CapturedConsole>()};
  auto start = [&](int i, const char* script) {
    return std::jthread([&, i, script] {
      statuses[i] = ScriptRunner(platform::Logger({sink, false}, "s", "c"), outs[i])
                        .runScript(script)
                        ->exitStatus;
    });
  };
  { auto first = start(0, "sleep 0.2; echo one; exit 1"), second = start(1, "echo two; exit 2"); }
  EXPECT_EQ(statuses, (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ((std::vector{outs[0]->text(), outs[1]->text()}),
            (std::vector<std::string>{"one\n", "two\n"}));
}

// Output still in the pipe, or still being handled, when the script exits is handled before the
// run returns: here the handler holds the first chunk until the script has exited and then
// some, while the last write waits in the pipe.
TEST(ScriptDrain, OutputStillComingWhenTheScriptExitsIsHandledBeforeTheReturn) {
  test::TempDir dir;
  auto pidFile = dir / "pid";
  auto seen = dir / "seen";
  struct Shared {
    std::mutex mutex;
    std::vector<std::string> chunks;
  };
  auto shared = std::make_shared<Shared>();
  auto script = "echo $$ > " + pidFile.string() + "; printf first; until [[ -e " + seen.string() +
                " ]]; do sleep 0.01; done; printf last";
  auto status = executeScript(PreparedRun::start("/bin/zsh"), script, [=](std::string_view chunk) {
    {
      std::lock_guard lock(shared->mutex);
      shared->chunks.emplace_back(chunk);
    }
    if (chunk != "first") return;
    test::writeTextFile(seen, "");
    // Until the script has exited, and long past the moment its exit is noticed.
    int pidfd =
        static_cast<int>(::syscall(SYS_pidfd_open, std::stoi(test::readTextFile(pidFile)), 0));
    pollfd exited{pidfd, POLLIN, 0};
    ::poll(&exited, 1, 10'000);
    ::close(pidfd);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  });
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 0);
  std::lock_guard lock(shared->mutex);
  EXPECT_EQ(shared->chunks, (std::vector<std::string>{"first", "last"}));
}

// A background child that writes without pause, to a handler slower than it: the pipe is full
// at every look once the script has written its last and ended, and the end must still be seen
// and the wait bounded.
TEST(ScriptDrain, OutputThatNeverPausesDoesNotHideTheScriptsEnd) {
  test::TempDir dir;
  auto pidFile = dir / "pid";
  auto script = "yes & print $! > " + pidFile.string() + "; print -r -- ${(l:3000000::x:)}";
  auto status = executeScript(PreparedRun::start("/bin/zsh"), script, [](std::string_view) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a slow log or console
  });
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 0);
  EXPECT_EQ(::kill(std::stoi(test::readTextFile(pidFile)), SIGKILL), 0)
      << "the writer had already ended";
}

}  // namespace
}  // namespace shelvo
