// What the agent's shared files give an ordinary local user: nothing. The run lock is root's
// alone and a planted one is refused; run records are for root and group adm, and no part of
// the credential reaches them, however the script's output is split or cut; a stopped run ends
// its script and is recorded.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "tests/e2e/agent_harness.h"
#include "tests/support/paths.h"

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

struct Mode {
  unsigned permissions;
  unsigned owner;
  std::string group;
  bool operator==(const Mode&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Mode& mode) {
  return out << std::oct << mode.permissions << std::dec << " " << mode.owner << ":" << mode.group;
}

Mode modeOf(const fs::path& path) {
  struct ::stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  const ::group* group = ::getgrgid(info.st_gid);
  return {info.st_mode & 07777u, info.st_uid, group ? group->gr_name : std::to_string(info.st_gid)};
}

class RunLockAndRecordsTest : public ServedAgentTest {
 protected:
  void SetUp() override {
    service.addScript("com.example.app", "echo installed\n");
    // Every folder above the lock open to all: only the lock's own modes may keep a user out.
    fs::permissions(agent.root.path(), fs::perms(0755));
  }
  fs::path lockFolder() const { return agent.root / "run/shelvo"; }
  fs::path records() const { return agent.root / "var/lib/shelvo/runs"; }
  std::vector<fs::path> recordFiles() const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(records())) files.push_back(entry.path());
    return files;
  }
};

TEST_F(RunLockAndRecordsTest, TheLockIsRootsAloneAndOlderModesAreSetRight) {
  // As an older version left them.
  fs::create_directories(lockFolder());
  fs::permissions(agent.root / "run", fs::perms(0755));
  fs::permissions(lockFolder(), fs::perms(0755));
  writeTextFile(lockFolder() / "agent.lock", "pid 1, shelvo --update\n");
  fs::permissions(lockFolder() / "agent.lock", fs::perms(0644));
  EXPECT_EQ(agent.run({"--install", "com.example.app"}).exitStatus, 0);
  EXPECT_EQ(modeOf(lockFolder()), (Mode{0700, 0, "root"}));
  // Every run also counts itself under a second lock, as much root's alone.
  EXPECT_EQ(modeOf(lockFolder() / "totals.lock"), (Mode{0600, 0, "root"}));
  for (const auto& entry : fs::recursive_directory_iterator(agent.root / "var/lib/shelvo")) {
    EXPECT_NE(entry.path().extension(), ".lock") << entry.path() << ": a lock outside /run/shelvo";
  }

  // What stalled every root run: a user holding a lock. The folder alone would stop it, so
  // each file is opened the way an older folder would have let it be.
  for (const char* name : {"agent.lock", "totals.lock"}) {
    auto lock = (lockFolder() / name).string();
    fs::permissions(lockFolder(), fs::perms(0700));
    auto held = runProgram(asNobody({"flock", "-n", "-s", lock, "true"}), {});
    EXPECT_NE(held.exitStatus, 0) << name << held.out << held.err;
    fs::permissions(lockFolder(), fs::perms(0755));
    held = runProgram(asNobody({"flock", "-n", "-s", lock, "true"}), {});
    EXPECT_NE(held.exitStatus, 0) << name << ": the file itself is root's alone";
    EXPECT_NE(held.err.find("Permission denied"), std::string::npos) << name << held.err;
  }
}

TEST_F(RunLockAndRecordsTest, APlantedLockIsRefusedNeverUsed) {
  fs::create_directories(lockFolder());
  fs::path lock = lockFolder() / "agent.lock";
  fs::path target = scratch / "elsewhere";
  struct Row {
    const char* name;
    std::function<void()> plant;
    std::string why;
  };
  const Row rows[] = {
      {"a file of another user",
       [&] {
         writeTextFile(lock, "");
         runProgram({"chown", "nobody", lock.string()}, {});
       },
       lock.string() + " is owned by user 65534, not root"},
      {"a symbolic link", [&] { fs::create_symlink(target, lock); },
       lock.string() + " is a symbolic link"},
      {"a folder of another user",
       [&] {
         runProgram({"chown", "nobody", lockFolder().string()}, {});
       },
       lockFolder().string() + " is owned by user 65534, not root"},
      {"a link for the folder",
       [&] {
         fs::remove_all(lockFolder());
         fs::create_directories(target);
         fs::create_directory_symlink(target, lockFolder());
       },
       lockFolder().string() + " is not a folder"},
  };
  for (const auto& row : rows) {
    fs::remove_all(target);
    if (fs::is_symlink(lockFolder())) fs::remove(lockFolder());
    fs::remove_all(lockFolder());
    fs::create_directories(lockFolder());
    row.plant();
    auto before = service.requests().size();
    auto result = agent.run({"--install", "com.example.app"});
    EXPECT_EQ(result.exitStatus, 30) << row.name;
    EXPECT_EQ(result.err, "shelvo: refusing to use the run lock: " + row.why +
                              "; remove it once you know who made it\n")
        << row.name;
    EXPECT_EQ(result.out, "") << row.name;
    EXPECT_EQ(service.requests().size(), before) << row.name << ": nothing was sent";
    EXPECT_FALSE(fs::exists(target / "agent.lock")) << row.name;
    EXPECT_FALSE(fs::exists(target) && fs::is_regular_file(target)) << row.name;
  }
  EXPECT_FALSE(fs::exists(agent.root / "var/lib/shelvo/run-totals.json"))
      << "a run refused its turn never began: it is not counted";
  // Its journal entries still end, without an outcome.
  auto entries = agent.logEntries();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.back()["message"], "Install of com.example.app ended with status 30");
  EXPECT_EQ(entries.back()["message_id"], "f22a94d6f5e24fa0b4b35b886028c92e");
}

TEST_F(RunLockAndRecordsTest, RecordsAreForRootAndAdmAndHoldNoPieceOfTheCredential) {
  // As an older version left them.
  fs::create_directories(records());
  fs::permissions(records(), fs::perms(0755));
  writeTextFile(records() / "2020-01-01T000000.000Z-1.json", "{}");
  fs::permissions(records() / "2020-01-01T000000.000Z-1.json", fs::perms(0644));
  // A link among them is no record: what it points at is left as it is.
  auto elsewhere = agent.root / "elsewhere";
  writeTextFile(elsewhere, "");
  fs::permissions(elsewhere, fs::perms(0604));
  fs::create_symlink(elsewhere, records() / "2020-01-01T000000.000Z-2.json");

  const std::string credential = "demo-credential";
  // The first half was read (the pipe is empty again) before the second half is written.
  service.addScript("com.example.split",
                    "printf 'token=demo-cred'\n"
                    "until python3 -c 'import array, fcntl, sys, termios\n"
                    "unread = array.array(\"i\", [0]); fcntl.ioctl(1, termios.FIONREAD, unread)\n"
                    "sys.exit(unread[0] != 0)'; do sleep 0.05; done\n"
                    "echo 'ential end'\n");
  service.addScript("com.example.cut", "echo " + std::string(1015, 'x') + credential + "\n");
  service.addScript("com.example.twice", "echo " + credential + " and " + credential + "\n");
  // Neither the records nor the log (the journal, for group adm) nor standard output (the
  // journal too, for a scheduled run) hold a piece of it.
  auto expectNoPiece = [&](const std::string& text, const std::string& where) {
    for (std::size_t at = 0; at + 6 <= credential.size(); ++at)
      EXPECT_EQ(text.find(credential.substr(at, 6)), std::string::npos) << where << ": " << text;
  };
  std::string printed;
  for (const char* app : {"com.example.split", "com.example.cut", "com.example.twice"}) {
    auto result = agent.run({"--install", app});
    EXPECT_EQ(result.exitStatus, 0) << app;
    printed += result.out;
  }
  expectNoPiece(printed, "standard output");
  EXPECT_NE(printed.find("token=<private> end"), std::string::npos) << printed;
  expectNoPiece(readTextFile(agent.environment["SHELVO_LOG"].substr(5)), "the log");
  EXPECT_EQ(modeOf(records()), (Mode{0750, 0, "adm"}));
  EXPECT_EQ(fs::status(elsewhere).permissions(), fs::perms(0604));
  fs::remove(records() / "2020-01-01T000000.000Z-2.json");
  for (const auto& file : recordFiles()) {
    EXPECT_EQ(modeOf(file), (Mode{0640, 0, "adm"})) << file;
    expectNoPiece(readTextFile(file), file.string());
  }
  auto lines = [&](const std::string& app) {
    for (const auto& file : recordFiles()) {
      auto record = nlohmann::json::parse(readTextFile(file));
      if (record.value("bundle_identifier", nlohmann::json()) == app) return record["last_lines"];
    }
    return nlohmann::json();
  };
  EXPECT_EQ(lines("com.example.split"), nlohmann::json::array({"token=<private> end"}));
  EXPECT_EQ(lines("com.example.twice"), nlohmann::json::array({"<private> and <private>"}));
  auto readable = runProgram(asNobody({"cat", recordFiles().back().string()}), {});
  EXPECT_NE(readable.exitStatus, 0) << "records are not for every local user";
  auto report =
      runProgram(asNobody({kReportBinary}), {{"SHELVO_ROOT", agent.root.path().string()}});
  EXPECT_EQ(report.exitStatus, 1);
  EXPECT_EQ(report.out, "") << "no empty table";
  EXPECT_EQ(report.err, "shelvo-report: cannot read the run records in " + records().string() +
                            ": Permission denied (they are for root and the group adm)\n");
}

TEST_F(RunLockAndRecordsTest, TheOldestRecordGoesWhileTheScriptRunsAndTheNewestHundredStay) {
  fs::create_directories(records());
  for (int i = 0; i < 100; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "2020-01-01T0000%02d.000Z-1.json", i);
    writeTextFile(records() / name, "{}");
  }
  // Waits (at most 10 s) until the agent has made room; without that it prints 100.
  service.addScript("com.example.room", "for i in {1..1000}; do (( $(ls " + records().string() +
                                            " | wc -l) <= 99 )) && break; sleep 0.01; done\n"
                                            "echo records while running: $(ls " +
                                            records().string() + " | wc -l)\n");
  auto result = agent.run({"--install", "com.example.room"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_NE(result.out.find("records while running: 99"), std::string::npos) << result.out;
  auto files = recordFiles();
  EXPECT_EQ(files.size(), 100u);
  EXPECT_FALSE(fs::exists(records() / "2020-01-01T000000.000Z-1.json"));
  EXPECT_TRUE(fs::exists(records() / "2020-01-01T000001.000Z-1.json"));
}

// Started with standard input, output and error closed (a careless wrapper), the agent's files
// must not take their numbers: printed lines and errors would go into the lock or a record.
TEST_F(RunLockAndRecordsTest, ARunStartedWithoutStandardDescriptorsPrintsIntoNoneOfItsFiles) {
  for (auto [app, status] : {std::pair{"com.example.app", 0}, {"com.example.missing", 21}}) {
    auto result = runProgram(
        {"/bin/sh", "-c", "exec \"$0\" \"$@\" <&- >&- 2>&-", kAgentBinary, "--install", app},
        agent.environment);
    EXPECT_EQ(result.exitStatus, status) << app;
  }
  auto records = agent.runRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["last_lines"], nlohmann::json::array({"installed"}));
  for (const auto& entry : fs::recursive_directory_iterator(agent.root.path())) {
    if (!entry.is_regular_file() || entry.path().extension() == ".json") continue;
    auto text = readTextFile(entry.path());
    EXPECT_EQ(text.find("installed"), std::string::npos) << entry.path() << ": " << text;
    EXPECT_EQ(text.find("404"), std::string::npos) << entry.path() << ": " << text;
  }
  // The log holds entries only, the script's line among them.
  auto messages = agent.logMessages();
  EXPECT_NE(std::find(messages.begin(), messages.end(), "installed"), messages.end());
}

TEST_F(RunLockAndRecordsTest, AStoppedRunEndsItsScriptAndIsRecordedAsTimedOut) {
  fs::path started = scratch / "started";
  service.addScript("com.example.slow", "trap 'echo asked to end; exit 5' TERM\ntouch " +
                                            started.string() + "\nwhile :; do sleep 0.1; done\n");
  auto run = agent.start({"--install", "com.example.slow"}, scratch.path(), "run");
  ASSERT_TRUE(eventually([&] { return fs::exists(started); }));
  ::kill(run->pid(), SIGTERM);
  EXPECT_EQ(run->waitForExit(std::chrono::seconds(30)), 143);
  auto files = recordFiles();
  ASSERT_EQ(files.size(), 1u);
  auto record = nlohmann::json::parse(readTextFile(files[0]));
  EXPECT_EQ(record["outcome"], "timed-out");
  EXPECT_EQ(record["message"], "Stopped by SIGTERM before the run ended");
  EXPECT_EQ(record["agent_status"], 143);
  EXPECT_EQ(record["script_status"], 5);
  EXPECT_EQ(record["last_lines"], nlohmann::json::array({"asked to end"}));
  auto totals = nlohmann::json::parse(readTextFile(agent.root / "var/lib/shelvo/run-totals.json"));
  EXPECT_EQ(totals["install"]["runs"], nlohmann::json({{"timed-out", 1}})) << totals;
  EXPECT_EQ(totals["install"]["consecutive_failures"], 1);
  auto entries = agent.logEntries();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.back()["message"], "Install of com.example.slow ended: timed-out (status 143)");
  EXPECT_EQ(entries.back()["run_id"], record["id"]);
  EXPECT_EQ(entries.back()["message_id"], "9d7fb48f974646db83ae8b03237dfdd4");
}

}  // namespace
}  // namespace shelvo::test
