#include <gtest/gtest.h>

#include "platform/defaults/preferences.h"
#include "platform/env/posix_env.h"
#include "tests/e2e/agent_harness.h"
#include "tests/support/paths.h"

namespace shelvo::test {
namespace {

class DefaultsToolTest : public ::testing::Test {
 protected:
  ProgramResult defaults(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kDefaultsBinary);
    return runProgram(arguments, {{"SHELVO_ROOT", root.path().string()}});
  }
  platform::Preferences suite() {
    return platform::Preferences(files, "ostrel.shelvo", platform::RootPrefix(root.path()),
                                 platform::effectiveUserAccount());
  }
  TempDir root;
  platform::PosixEnv files;
};

TEST_F(DefaultsToolTest, WritesWhatTheAgentReads) {
  EXPECT_EQ(defaults({"write", "ostrel.shelvo", "authorization", "-string", "secret"}).exitStatus,
            0);
  EXPECT_EQ(defaults({"write", "ostrel.shelvo", "UpdateInterval", "-int", "7"}).exitStatus, 0);
  EXPECT_EQ(
      defaults({"write", "ostrel.shelvo", "HideUpdateNotifications", "-bool", "YES"}).exitStatus,
      0);
  EXPECT_EQ(
      defaults({"write", "ostrel.shelvo", "ExcludeAppsUpdate", "-array", "a", "b"}).exitStatus, 0);
  EXPECT_EQ(defaults({"write", "ostrel.shelvo", "blob", "-data", "00ff"}).exitStatus, 0);
  auto preferences = suite();
  EXPECT_EQ(preferences.stringForKey("authorization"), "secret");
  EXPECT_EQ(preferences.integerForKey("UpdateInterval"), 7);
  EXPECT_TRUE(preferences.boolForKey("HideUpdateNotifications"));
  EXPECT_EQ(preferences.stringArrayForKey("ExcludeAppsUpdate"),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(preferences.dataForKey("blob"), std::string("\0\xff", 2));

  EXPECT_EQ(defaults({"delete", "ostrel.shelvo", "UpdateInterval"}).exitStatus, 0);
  EXPECT_FALSE(suite().objectForKey("UpdateInterval"));
}

TEST_F(DefaultsToolTest, BadInputIsRefusedWithAMessageAndNothingIsWritten) {
  const std::vector<std::vector<std::string>> bad{
      {},
      {"read"},
      {"frob", "ostrel.shelvo"},
      {"write", "ostrel.shelvo", "UpdateInterval", "-int", "seven"},
      {"write", "ostrel.shelvo", "UpdateInterval", "-int", "99999999999999999999"},
      {"write", "ostrel.shelvo", "flag", "-bool", "maybe"},
      {"write", "ostrel.shelvo", "blob", "-data", "xyz"},
      {"write", "ostrel.shelvo", "key", "-float", "1"},
      {"write", "ostrel.shelvo", "key", "-string"},
      {"write", "ostrel.shelvo", "key", "-string", "a", "b"},
  };
  for (const auto& arguments : bad) {
    auto result = defaults(arguments);
    EXPECT_NE(result.exitStatus, 0);
    EXPECT_NE(result.err.find("usage:"), std::string::npos) << result.err;
  }
  auto missing = defaults({"read", "ostrel.shelvo", "nothing"});
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_EQ(missing.err, "The domain/default pair of (ostrel.shelvo, nothing) does not exist\n");
  EXPECT_FALSE(std::filesystem::exists(root / "root/.config/shelvo/ostrel.shelvo.plist"));
}

// A write is durable before it is visible: the new file's bytes reach the disk (fsync) before
// the rename puts it in place, so a crash leaves the old file or the new one, never an empty one.
TEST_F(DefaultsToolTest, TheNewFileIsSyncedBeforeItReplacesTheOldOne) {
  auto trace = root / "trace";
  auto result =
      runProgram({"strace", "-f", "-o", trace.string(), "-e",
                  "trace=fsync,fdatasync,rename,renameat,renameat2", kDefaultsBinary, "write",
                  "ostrel.shelvo", "UpdateInterval", "-int", "7"},
                 // LeakSanitizer cannot work under a tracer.
                 {{"SHELVO_ROOT", root.path().string()}, {"ASAN_OPTIONS", "detect_leaks=0"}});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  std::string calls = readTextFile(trace);
  auto sync = calls.find("fsync(");
  auto rename = calls.find("rename");
  ASSERT_NE(rename, std::string::npos) << calls;
  EXPECT_LT(sync, rename) << calls;
  EXPECT_EQ(suite().integerForKey("UpdateInterval"), 7);
}

TEST_F(DefaultsToolTest, DeletingAKeyOnlyAnotherLayerHoldsFailsAndNamesTheFile) {
  auto shared = root / "etc/shelvo/ostrel.shelvo.plist";
  writeTextFile(shared, R"(<plist version="1.0"><dict><key>authorization</key>
                           <string>x</string></dict></plist>)");
  auto refused = defaults({"delete", "ostrel.shelvo", "authorization"});
  EXPECT_NE(refused.exitStatus, 0);
  EXPECT_NE(refused.err.find(shared.string()), std::string::npos) << refused.err;
  EXPECT_EQ(suite().stringForKey("authorization"), "x");
}

namespace fs = std::filesystem;

TEST_F(DefaultsToolTest, ExplainShowsEachSettingWithItsFileAndTheCredentialOnlyAsPresent) {
  fs::path managed = root / "etc/shelvo/managed/ostrel.shelvo.plist";
  writeTextFile(managed, R"(<plist version="1.0"><dict><key>authorization</key>
    <string>secret-token</string><key>UpdateInterval</key><integer>7</integer></dict></plist>)");
  fs::permissions(managed, fs::perms(0600));
  fs::path shared = root / "etc/shelvo/ostrel.shelvo.plist";
  writeTextFile(shared, R"(<plist version="1.0"><dict><key>UpdateInterval</key>
    <integer>99</integer></dict></plist>)");
  fs::permissions(shared, fs::perms(0666));
  for (auto folder : {root.path(), root / "etc", root / "etc/shelvo", managed.parent_path()})
    fs::permissions(folder, fs::perms(0755));
  ASSERT_EQ(
      defaults({"write", "ostrel.shelvo", "HideUpdateNotifications", "-bool", "YES"}).exitStatus,
      0);
  ASSERT_EQ(defaults({"write", "ostrel.shelvo", "Custom", "-array", "a", "b c"}).exitStatus, 0);
  fs::path user = root / "root/.config/shelvo/ostrel.shelvo.plist";

  auto asRoot = defaults({"explain", "ostrel.shelvo"});
  EXPECT_EQ(asRoot.exitStatus, 0) << asRoot.err;
  EXPECT_EQ(asRoot.out.find("secret-token"), std::string::npos);
  auto lines = linesOf(asRoot.out);
  ASSERT_EQ(lines.size(), 15u) << asRoot.out;
  EXPECT_TRUE(lines[0].starts_with("Service URL: https://")) << lines[0];
  const auto m = managed.string();
  const auto u = user.string();
  const auto a = shared.string();
  const auto mu = (managed.parent_path() / "root/ostrel.shelvo.plist").string();
  const std::vector<std::string> expected{
      "Files of domain ostrel.shelvo, the first holding a key wins:",
      "    managed, this user  " + mu + "  missing",
      "    managed, any user   " + m + std::string(mu.size() - m.size(), ' ') + "  used",
      "    this user           " + u + std::string(mu.size() - u.size(), ' ') + "  used",
      "    any user            " + a + std::string(mu.size() - a.size(), ' ') +
          "  skipped: the file is not owned by root or is writable by group or others",
      "Settings:",
      "    authorization                    present               " + m,
      "    UpdateInterval                   7 (integer)           " + m,
      "    HideUpdateNotifications          1 (boolean)           " + u,
      "    AllowUpdatesConstrainedNetworks  not set",
      "    AllowUpdatesContrainedNetworks   not set",
      "    ExcludeAppsUpdate                not set",
      "    SkipUpdatesOnBattery             not set",
      "    Custom                           ( a, \"b c\" ) (array)  " + u,
  };
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), expected);

  // Another user is told which file only root may read; nothing is written for them.
  auto copy = root / "shelvo-defaults";
  fs::copy_file(kDefaultsBinary, copy);
  auto asNobodyResult = runProgram(asNobody({copy.string(), "explain", "ostrel.shelvo"}),
                                   {{"SHELVO_ROOT", root.path().string()}});
  EXPECT_EQ(asNobodyResult.exitStatus, 0) << asNobodyResult.err;
  EXPECT_NE(
      asNobodyResult.out.find("unreadable: " + m + " is readable by root only: run with sudo"),
      std::string::npos)
      << asNobodyResult.out;
  EXPECT_NE(asNobodyResult.out.find("    authorization                    absent\n"),
            std::string::npos)
      << asNobodyResult.out;
  EXPECT_FALSE(fs::exists(root / "nonexistent"));
}

TEST_F(DefaultsToolTest, ExplainAndReportAboutNameTheSameServiceURL) {
  for (const auto& configured : std::vector<std::string>{"", "https://apps.example"}) {
    ProgramRun explain;
    explain.arguments = {kDefaultsBinary, "explain", "ostrel.shelvo"};
    ProgramRun about;
    about.arguments = {kReportBinary, "--about"};
    for (auto* run : {&explain, &about}) {
      if (configured.empty())
        run->unsetEnvironment.push_back("SHELVO_SERVICE_URL");
      else
        run->environment["SHELVO_SERVICE_URL"] = configured;
    }
    auto explained = linesOf(runProgram(explain).out);
    auto reported = runProgram(about);
    EXPECT_EQ(reported.exitStatus, 0);
    auto aboutLines = linesOf(reported.out);
    ASSERT_EQ(aboutLines.size(), 2u) << reported.out;
    EXPECT_EQ(aboutLines[0], "Shelvo 3.1 (164)");
    ASSERT_FALSE(explained.empty());
    EXPECT_EQ(aboutLines[1], explained[0]);
    EXPECT_TRUE(configured.empty()
                    ? explained[0].ends_with(" (built in; the timer's runs use it too)")
                    : explained[0].starts_with("Service URL: https://apps.example "
                                               "(SHELVO_SERVICE_URL here; the timer's runs use "
                                               "the built-in https://"))
        << explained[0];
  }
}

TEST_F(DefaultsToolTest, ValuesPrintAsThePlatformsToolPrintsThemAndReadTypeTellsBooleansApart) {
  writeTextFile(root / "root/.config/shelvo/ostrel.shelvo.plist",
                R"(<plist version="1.0"><dict><key>flag</key><true/><key>list</key>
                   <array><string>a</string><string>b</string></array><key>one</key>
                   <integer>1</integer><key>ratio</key><real>1.5</real></dict></plist>)");
  struct Row {
    std::vector<std::string> arguments;
    std::string out;
  };
  const std::vector<Row> rows{
      {{"read", "ostrel.shelvo", "flag"}, "1\n"},
      {{"read", "ostrel.shelvo", "one"}, "1\n"},
      {{"read", "ostrel.shelvo", "ratio"}, "1.5\n"},
      {{"read", "ostrel.shelvo"},
       "{\n    flag = 1;\n    list = (\n        a,\n        b\n    );\n    one = 1;\n    ratio = "
       "1.5;\n}\n"},
      {{"read-type", "ostrel.shelvo", "flag"}, "Type is boolean\n"},
      {{"read-type", "ostrel.shelvo", "one"}, "Type is integer\n"},
      {{"read-type", "ostrel.shelvo", "ratio"}, "Type is float\n"},
  };
  for (const auto& row : rows) {
    auto result = defaults(row.arguments);
    EXPECT_EQ(result.exitStatus, 0) << row.arguments[0];
    EXPECT_EQ(result.out, row.out) << row.arguments.back();
  }
  EXPECT_EQ(defaults({"read-type", "ostrel.shelvo", "nothing"}).exitStatus, 1);
}

}  // namespace
}  // namespace shelvo::test
