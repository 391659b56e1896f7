// The agent as an operator meets it: the built program, run as a subprocess against a scratch
// root, checked by its output, exit status and log entries.
#include <gtest/gtest.h>

#include "platform/defaults/preferences.h"
#include "tests/support/paths.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace shelvo::test {
namespace {

constexpr const char* kUsage =
    "\n"
    "USAGE\n"
    "shelvo ARGUMENT [options]\n"
    "\n"
    "The following arguments are available:\n"
    "\n"
    "         -i --install BUNDLE_IDENTIFIER                  Install app using the Bundle "
    "Identifier of the app to install\n"
    "         -u --update                                     Update all apps\n"
    "         -h --help                                       Print help\n"
    "         -v --version                                    Print current version\n"
    "\n"
    "OPTIONS\n"
    "         -s --silent                                     Hide user notifications when "
    "installation or update is completed\n"
    "         -d --dock                                       Add app to the end of the user's "
    "Dock\n"
    "         -p --progress                                   Show the download progress\n"
    "\n"
    "UPDATE SCHEDULE\n"
    "         --schedule-status                               Show the app update schedule (macOS "
    "13 or later)\n"
    "\n"
    "EXAMPLES\n"
    "         shelvo --install ostrel.pontiq                                  Install Ostrel "
    "Pontiq\n"
    "\n"
    "         shelvo -i com.google.chrome                                     Install Google "
    "Chrome\n"
    "\n"
    "         shelvo --install ostrel.pontiq --silent                         Install Ostrel "
    "Pontiq and hide user notification\n"
    "\n"
    "         shelvo --update                                                 Update all apps "
    "found in the App Shelvo\n"
    "\n"
    "         shelvo --update --silent                                        Update all apps "
    "found in the App Shelvo and hide user notifications\n"
    "\n";

class AgentCliTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::permissions(root.path(), std::filesystem::perms(0755)); }

  // The credential in the any-user layer, readable by every account.
  void storeAuthorization() {
    platform::Plist dictionary = platform::makeDictionary();
    plist_dict_set_item(dictionary.get(), "authorization", platform::makeString("token").release());
    writeTextFile(root / "etc/shelvo/ostrel.shelvo.plist", platform::toXmlPlist(dictionary.get()));
    std::filesystem::permissions(root / "etc", std::filesystem::perms(0755));
    std::filesystem::permissions(root / "etc/shelvo", std::filesystem::perms(0755));
  }
  void installAgentBundle(const std::string& version, const std::string& build) {
    platform::Plist info = platform::makeDictionary();
    plist_dict_set_item(info.get(), "CFBundleShortVersionString",
                        platform::makeString(version).release());
    plist_dict_set_item(info.get(), "CFBundleVersion", platform::makeString(build).release());
    writeTextFile(
        root / "Applications/Shelvo.app/Contents/Resources/Shelvo Agent.app/Contents/Info.plist",
        platform::toBinaryPlist(info.get()));
  }
  ProgramResult agent(std::vector<std::string> arguments, bool unprivileged = false) {
    if (unprivileged) {
      // A copy the unprivileged user can reach, wherever the build tree lives.
      auto copy = root / "usr/bin/shelvo";
      std::filesystem::create_directories(copy.parent_path());
      std::filesystem::copy_file(kAgentBinary, copy,
                                 std::filesystem::copy_options::overwrite_existing);
      for (auto folder : {root / "usr", root / "usr/bin"}) {
        std::filesystem::permissions(folder, std::filesystem::perms(0755));
      }
      arguments.insert(arguments.begin(), copy.string());
      arguments = asNobody(arguments);
    } else {
      arguments.insert(arguments.begin(), kAgentBinary);
    }
    return runProgram(arguments, {{"SHELVO_ROOT", root.path().string()},
                                  {"SHELVO_LOG", "file:" + logFile.string()}});
  }

  TempDir root;
  TempDir logs;
  std::filesystem::path logFile = logs / "agent.log";
};

TEST_F(AgentCliTest, NoArgumentsPrintsTheUsageAndEndsWith5WithoutWaiting) {
  auto result = agent({});
  EXPECT_EQ(result.exitStatus, 5);
  EXPECT_EQ(result.out, std::string("No arguments are given\n\n") + kUsage);
  EXPECT_NE(readTextFile(logFile).find(R"("level":"debug")"), std::string::npos);
}

TEST_F(AgentCliTest, HelpAndUnknownCommandsPrintTheUsageWithStatus0) {
  storeAuthorization();
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"frobnicate"}, {"--silent", "--install", "x"}}) {
    auto result = agent(arguments);
    EXPECT_EQ(result.exitStatus, 0) << arguments[0];
    EXPECT_EQ(result.out, kUsage) << arguments[0];
  }
}

TEST_F(AgentCliTest, VersionComesFromTheAgentBundle) {
  storeAuthorization();
  auto missing = agent({"--version"});
  EXPECT_EQ(missing.exitStatus, 0);
  EXPECT_EQ(missing.out, "Shelvo Agent version: Unknown (Unknown)\n");
  installAgentBundle("3.1", "164");
  auto installed = agent({"-v"});
  EXPECT_EQ(installed.exitStatus, 0);
  EXPECT_EQ(installed.out, "Shelvo Agent version: 3.1 (164)\n");
}

TEST_F(AgentCliTest, CommandsThatChangeTheSystemRefuseAnUnprivilegedUser) {
  storeAuthorization();
  for (const auto& command : {"--install", "-u", "--update", "--update-schedule",
                              "--schedule-enable", "--schedule-disable"}) {
    auto result = agent({command, "com.example.app"}, true);
    EXPECT_EQ(result.exitStatus, 1) << command << result.err;
    EXPECT_EQ(result.out, "This application must be run as root. Try the sudo command.\n");
  }
  auto version = agent({"--version"}, true);
  EXPECT_EQ(version.exitStatus, 0) << "version needs no root";
}

TEST_F(AgentCliTest, InstallWithoutBundleIdentifierEndsWith11) {
  storeAuthorization();
  auto result = agent({"--install"});
  EXPECT_EQ(result.exitStatus, 11);
  EXPECT_EQ(result.out, "Error: No Bundle Identifier was specified\n");
}

TEST_F(AgentCliTest, NotifyWithoutBodyEndsWith13OrWith12) {
  storeAuthorization();
  auto noBody = agent({"--notify", "--title"});
  EXPECT_EQ(noBody.exitStatus, 13);
  EXPECT_EQ(noBody.out, "Missing --body BODY_HERE\n");
  auto bodyLast = agent({"--notify", "--body"});
  EXPECT_EQ(bodyLast.exitStatus, 12);
  EXPECT_EQ(bodyLast.out, "Missing argument after --body, please specify the body\n");
}

}  // namespace
}  // namespace shelvo::test
