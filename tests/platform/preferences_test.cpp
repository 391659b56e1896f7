// Preference suites over their layers of files, and the readings of what they store.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <limits>

#include "platform/defaults/conversions.h"
#include "platform/defaults/preferences.h"
#include "platform/env/files.h"
#include "platform/env/posix_env.h"
#include "platform/plist/plist.h"
#include "tests/support/temp_dir.h"

namespace shelvo::platform {
namespace {

using test::TempDir;

class PreferencesTest : public ::testing::Test {
 protected:
  Preferences suite(const std::string& domain = "ostrel.shelvo") {
    return Preferences(env, domain, RootPrefix(root.path()), UserAccount{"alice", "/home/alice"});
  }
  // A layer's file of string values, in XML unless binary.
  static void writeLayer(const std::filesystem::path& file,
                         const std::map<std::string, std::string>& values, bool binary = false) {
    Plist dictionary = makeDictionary();
    for (const auto& [key, value] : values)
      plist_dict_set_item(dictionary.get(), key.c_str(), makeString(value).release());
    test::writeTextFile(file,
                        binary ? toBinaryPlist(dictionary.get()) : toXmlPlist(dictionary.get()));
  }
  void writeEveryLayer() {
    writeLayer(managedUser, {{"authorization", "managed-user"}});
    writeLayer(managed, {{"authorization", "managed"}});
    writeLayer(user, {{"authorization", "user"}});
    writeLayer(anyUser, {{"authorization", "any-user"}, {"only", "system"}}, true);
  }

  TempDir root;
  PosixEnv env;
  const std::filesystem::path managedUser = root / "etc/shelvo/managed/alice/ostrel.shelvo.plist";
  const std::filesystem::path managed = root / "etc/shelvo/managed/ostrel.shelvo.plist";
  const std::filesystem::path user = root / "home/alice/.config/shelvo/ostrel.shelvo.plist";
  const std::filesystem::path anyUser = root / "etc/shelvo/ostrel.shelvo.plist";
};

TEST_F(PreferencesTest, ValuesRoundTripThroughTheBinaryFile) {
  auto preferences = suite();
  ASSERT_TRUE(preferences.setObject("text", makeString("a & b < c > \"d\" é")));
  ASSERT_TRUE(preferences.setObject("flag", makeBool(true)));
  for (std::int64_t value : {std::numeric_limits<std::int64_t>::min(), std::int64_t{-1},
                             std::int64_t{0}, std::numeric_limits<std::int64_t>::max()}) {
    ASSERT_TRUE(preferences.setObject("number", makeInteger(value)));
    EXPECT_EQ(preferences.integerForKey("number"), value);
  }
  ASSERT_TRUE(preferences.setObject("data", makeData(std::string("a\0b", 3))));
  ASSERT_TRUE(preferences.setObject("list", makeStringArray({"x", "y"})));

  EXPECT_EQ(preferences.stringForKey("text"), "a & b < c > \"d\" é");
  EXPECT_TRUE(preferences.boolForKey("flag"));
  EXPECT_EQ(preferences.dataForKey("data"), std::string("a\0b", 3));
  EXPECT_EQ(preferences.stringArrayForKey("list"), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(test::readTextFile(user).substr(0, 6), "bplist");
}

TEST_F(PreferencesTest, ReadsHandWrittenXml) {
  test::writeTextFile(anyUser, R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>UpdateInterval</key><integer>-3</integer>
  <key>HideUpdateNotifications</key><true/>
  <key>blob</key><data>
  AAEC
  Aw==
  </data>
</dict></plist>)");
  auto preferences = suite();
  EXPECT_EQ(preferences.integerForKey("UpdateInterval"), -3);
  EXPECT_TRUE(preferences.boolForKey("HideUpdateNotifications"));
  EXPECT_EQ(preferences.dataForKey("blob"), std::string("\0\1\2\3", 4));
}

TEST_F(PreferencesTest, LayersAreSearchedManagedFirstAndBadFilesCountAsEmpty) {
  writeEveryLayer();
  auto preferences = suite();
  EXPECT_EQ(preferences.stringForKey("authorization"), "managed-user");
  std::filesystem::remove(managedUser);
  EXPECT_EQ(preferences.stringForKey("authorization"), "managed");
  test::writeTextFile(managed, "this is not a property list");
  EXPECT_EQ(preferences.stringForKey("authorization"), "user");
  test::writeTextFile(user, toXmlPlist(makeStringArray({"not", "a", "dict"}).get()));
  EXPECT_EQ(preferences.stringForKey("authorization"), "any-user");
  EXPECT_EQ(preferences.stringForKey("only"), "system");
  EXPECT_FALSE(preferences.stringForKey("missing"));
}

TEST_F(PreferencesTest, WritesKeepOtherKeysAndTheFileModeAndLeaveNoTemporaryFiles) {
  auto preferences = suite();
  ASSERT_TRUE(preferences.setObject("a", makeString("1")));
  ::chmod(user.c_str(), 0640);
  ASSERT_TRUE(preferences.setObject("b", makeString("2")));
  ASSERT_TRUE(preferences.removeObject("missing"));
  EXPECT_EQ(preferences.stringForKey("a"), "1");
  EXPECT_EQ(preferences.stringForKey("b"), "2");
  struct stat info {};
  ASSERT_EQ(::stat(user.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "preference files are private to their user";
  ASSERT_EQ(::stat(user.parent_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  for (const auto& entry : std::filesystem::directory_iterator(user.parent_path())) {
    auto name = entry.path().filename().string();
    EXPECT_TRUE(name == "ostrel.shelvo.plist" || name == "ostrel.shelvo.plist.lock") << name;
  }
  ASSERT_TRUE(preferences.removeObject("a"));
  EXPECT_FALSE(preferences.stringForKey("a"));
}

TEST_F(PreferencesTest, ConcurrentWritersLoseNothing) {
  constexpr int kRounds = 150;
  auto writer = [&](const std::string& key) {
    auto preferences = suite();
    for (int i = 1; i <= kRounds; ++i) {
      auto current = preferences.integerForKey(key);
      if (!preferences.setObject(key, makeInteger(current + 1))) ::_exit(1);
      // The other writer's key must survive every write of this one.
      (void)preferences.integerForKey(key == "left" ? "right" : "left");
    }
    ::_exit(0);
  };
  pid_t left = ::fork();
  if (left == 0) writer("left");
  pid_t right = ::fork();
  if (right == 0) writer("right");
  // Meanwhile every read must parse: readers see the old or the new file, never a mixture.
  auto reader = suite();
  bool alwaysParsed = true;
  for (int i = 0; i < 300; ++i) {
    auto bytes = readFile(user, 1 << 20);
    if (bytes && !parsePlist(*bytes)) alwaysParsed = false;
  }
  int status = 0;
  ::waitpid(left, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ::waitpid(right, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(alwaysParsed);
  EXPECT_EQ(reader.integerForKey("left"), kRounds);
  EXPECT_EQ(reader.integerForKey("right"), kRounds);
}

TEST_F(PreferencesTest, SuitesNamedLikeTheProgramOrTheGlobalDomainCannotBeOpened) {
  RootPrefix prefix(root.path());
  UserAccount account{"alice", "/home/alice"};
  EXPECT_FALSE(Preferences::openSuite(env, "ostrel.shelvo", prefix, account, "ostrel.shelvo"));
  EXPECT_FALSE(Preferences::openSuite(env, "NSGlobalDomain", prefix, account, std::nullopt));
  EXPECT_TRUE(Preferences::openSuite(env, "ostrel.shelvo", prefix, account, "ostrel.shelvo.agent"));
}

TEST_F(PreferencesTest, AUserWithoutHomeReadsTheSystemLayersAndCannotWrite) {
  writeLayer(anyUser, {{"authorization", "any-user"}});
  Preferences homeless(env, "ostrel.shelvo", RootPrefix(root.path()),
                       UserAccount{"ghost", std::nullopt});
  EXPECT_EQ(homeless.stringForKey("authorization"), "any-user");
  EXPECT_FALSE(homeless.setObject("x", makeString("y")));
}

TEST_F(PreferencesTest, ASharedLayerTheGroupMayChangeOrReachedThroughSuchAFolderIsSkipped) {
  writeEveryLayer();
  struct Row {
    std::filesystem::path loosened;  // made writable by its group
    std::vector<std::filesystem::path> skipped;
  };
  const Row rows[] = {
      {managedUser, {managedUser}},
      {managedUser.parent_path(), {managedUser}},
      {managed, {managed}},
      {root / "etc/shelvo/managed", {managedUser, managed}},
      {anyUser, {anyUser}},
      {root / "etc/shelvo", {managedUser, managed, anyUser}},
      {user, {}},  // the user's own layer is the user's to share
  };
  for (const auto& row : rows) {
    auto mode = std::filesystem::status(row.loosened).permissions();
    std::filesystem::permissions(row.loosened, mode | std::filesystem::perms::group_write);
    auto preferences = suite();
    std::vector<std::filesystem::path> skipped;
    preferences.reportUntrustedLayersTo(
        [&](const std::string& file, const std::string&) { skipped.emplace_back(file); });
    preferences.stringForKey("only");  // reads every layer
    std::filesystem::permissions(row.loosened, mode);
    EXPECT_EQ(skipped, row.skipped) << row.loosened;
  }
}

Plist makeReal(double value) {
  return Plist(plist_new_real(value));
}

TEST(Conversions, BoolAndIntegerReadingsOfEveryStoredType) {
  struct Row {
    const char* name;
    Plist value;
    bool asBool;
    std::int64_t asInteger;
  };
  Row rows[] = {
      {"missing", nullptr, false, 0},
      {"true", makeBool(true), true, 1},
      {"false", makeBool(false), false, 0},
      {"integer 7", makeInteger(7), true, 7},
      {"integer 0", makeInteger(0), false, 0},
      {"integer -2", makeInteger(-2), true, -2},
      {"real 2.9", makeReal(2.9), true, 2},
      {"real -0.5", makeReal(-0.5), true, 0},
      {"real 0", makeReal(0.0), false, 0},
      // Strings are read as the emulation reads them (tests/emulation has the rows).
      {"string YES", makeString("YES"), true, 0},
      {"string 12abc", makeString("12abc"), true, 12},
      {"data", makeData("1"), false, 0},
      {"array", makeStringArray({"1"}), false, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(boolFromPlist(row.value.get()), row.asBool) << row.name;
    EXPECT_EQ(integerFromPlist(row.value.get()), row.asInteger) << row.name;
  }
}

TEST(Conversions, StringArraysMustHoldOnlyStrings) {
  EXPECT_EQ(stringArrayFromPlist(makeStringArray({"a", "b"}).get()),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(stringArrayFromPlist(makeStringArray({}).get()), std::vector<std::string>{});
  EXPECT_FALSE(stringArrayFromPlist(makeString("com.example.app").get()));
  Plist mixed = makeStringArray({"a"});
  plist_array_append_item(mixed.get(), plist_new_uint(1));
  EXPECT_FALSE(stringArrayFromPlist(mixed.get()));
  EXPECT_FALSE(stringArrayFromPlist(nullptr));
}

}  // namespace
}  // namespace shelvo::platform
