#include <gtest/gtest.h>

#include "platform/defaults/preferences.h"
#include "tests/support/paths.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace shelvo::test {
namespace {

class DefaultsToolTest : public ::testing::Test {
 protected:
  ProgramResult defaults(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kDefaultsBinary);
    return runProgram(arguments, {{"SHELVO_ROOT", root.path().string()}});
  }
  platform::Preferences suite() {
    return platform::Preferences("ostrel.shelvo", platform::RootPrefix(root.path()),
                                 platform::effectiveUserAccount());
  }
  TempDir root;
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

  auto key = defaults({"read", "ostrel.shelvo", "UpdateInterval"});
  EXPECT_EQ(key.exitStatus, 0);
  EXPECT_EQ(key.out, "7\n");
  auto all = defaults({"read", "ostrel.shelvo"});
  EXPECT_NE(all.out.find("    ExcludeAppsUpdate = (\n        a,\n        b\n    );\n"),
            std::string::npos)
      << all.out;
  EXPECT_EQ(defaults({"delete", "ostrel.shelvo", "UpdateInterval"}).exitStatus, 0);
  EXPECT_EQ(suite().integerForKey("UpdateInterval"), 0);
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

}  // namespace
}  // namespace shelvo::test

namespace shelvo::test {
namespace {

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

}  // namespace
}  // namespace shelvo::test

namespace shelvo::test {
namespace {

TEST_F(DefaultsToolTest, DeletingAKeyOnlyAnotherLayerHoldsFailsAndNamesTheFile) {
  auto shared = root / "etc/shelvo/ostrel.shelvo.plist";
  writeTextFile(shared, R"(<plist version="1.0"><dict><key>authorization</key>
                           <string>x</string></dict></plist>)");
  auto refused = defaults({"delete", "ostrel.shelvo", "authorization"});
  EXPECT_NE(refused.exitStatus, 0);
  EXPECT_NE(refused.err.find(shared.string()), std::string::npos) << refused.err;
  EXPECT_EQ(suite().stringForKey("authorization"), "x");
  // A key of the user layer is still deleted as before.
  ASSERT_EQ(defaults({"write", "ostrel.shelvo", "UpdateInterval", "-int", "3"}).exitStatus, 0);
  EXPECT_EQ(defaults({"delete", "ostrel.shelvo", "UpdateInterval"}).exitStatus, 0);
  EXPECT_FALSE(suite().objectForKey("UpdateInterval"));
}

}  // namespace
}  // namespace shelvo::test
