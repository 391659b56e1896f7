// shelvo --check-updates against bundles made under a scratch root and an app list served by
// the demo service, run as root and as an unprivileged user.
#include <gtest/gtest.h>

#include "agent/update-check/installed_app_item.h"
#include "platform/defaults/preferences.h"
#include "platform/env/posix_env.h"
#include "platform/plist/plist.h"
#include "tests/e2e/agent_harness.h"
#include "tests/support/https_server.h"

namespace shelvo::test {
namespace {

class CheckUpdatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    agent.storeSharedAuthorization();
    // The service's CA where every account can read it.
    std::filesystem::copy_file(service.caFile(), agent.root / "ca.pem");
    agent.use(service.url(), (agent.root / "ca.pem").string());
  }

  // An .app bundle with an Info.plist in XML or binary form.
  void makeBundle(const std::string& location, const std::string& identifier,
                  std::optional<std::string> shortVersion, std::optional<std::string> build = {},
                  bool binary = false) {
    platform::Plist info = platform::makeDictionary();
    plist_dict_set_item(info.get(), "CFBundleIdentifier",
                        platform::makeString(identifier).release());
    if (shortVersion) {
      plist_dict_set_item(info.get(), "CFBundleShortVersionString",
                          platform::makeString(*shortVersion).release());
    }
    if (build)
      plist_dict_set_item(info.get(), "CFBundleVersion", platform::makeString(*build).release());
    writeTextFile(agent.root / location / "Contents/Info.plist",
                  binary ? platform::toBinaryPlist(info.get()) : platform::toXmlPlist(info.get()));
  }

  platform::Preferences nobodysSuite() {
    return platform::Preferences(files, "ostrel.shelvo", platform::RootPrefix(agent.root.path()),
                                 {"nobody", "/nonexistent"});
  }

  AgentHarness agent;
  platform::PosixEnv files;
  DemoService service;
};

TEST_F(CheckUpdatesTest, ReportsNewerVersionsAndStoresThemForAnUnprivilegedUser) {
  makeBundle("Applications/Newer.app", "com.example.newer", "1.9");
  makeBundle("Applications/Same.app", "com.example.same", "3.0", {}, true);
  makeBundle("Applications/Older.app", "com.example.older", "2.1");
  makeBundle("Applications/NoServiceVersion.app", "com.example.noversion", "1.0");
  makeBundle("Applications/Tools/Unversioned.app", "com.example.unversioned", std::nullopt);
  makeBundle("Applications/BuildOnly.app", "com.example.buildonly", std::nullopt, "7", true);
  makeBundle("Applications/Store.app", "com.example.store", "1.0");
  writeTextFile(agent.root / "Applications/Store.app/Contents/_MASReceipt/receipt", "receipt");
  makeBundle("Applications/Disabled.app", "com.example.disabled", "1.0");
  makeBundle("Applications/Excluded.app", "com.example.excluded", "1.0");
  makeBundle("Users/alice/Applications/Home.app", "com.example.home", "1.0");
  makeBundle("Volumes/Disk/Applications/Other.app", "com.example.volume", "1.0");
  makeBundle("Applications/Shelvo.app", "ostrel.shelvo", "1.0");
  makeBundle("Applications/Duplicate.app", "com.example.duplicate", "1.0");
  // A link to a bundle counts as the folder it names; a file or a dangling link does not.
  makeBundle("Elsewhere/Real.app", "com.example.linked", "1.0");
  std::filesystem::create_directory_symlink(agent.root / "Elsewhere/Real.app",
                                            agent.root / "Applications/Linked.app");
  writeTextFile(agent.root / "Applications/File.app", "not a bundle");
  std::filesystem::create_directory_symlink(agent.root / "Elsewhere/Gone.app",
                                            agent.root / "Applications/Dangling.app");
  service.setAppList(R"([
    {"bundle_id": "com.example.newer", "name": "Newer", "version": "1.10", "icon_thumbnail": "https://i/n.png"},
    {"bundle_id": "com.example.same", "name": "Same", "version": "3.0"},
    {"bundle_id": "com.example.older", "name": "Older", "version": "2.0"},
    {"bundle_id": "com.example.noversion", "name": "No Version"},
    {"bundle_id": "com.example.unversioned", "name": "Unversioned", "version": "1.0"},
    {"bundle_id": "com.example.buildonly", "name": "Build Only", "version": "8"},
    {"bundle_id": "com.example.store", "name": "Store", "version": "2.0"},
    {"bundle_id": "com.example.disabled", "name": "Disabled", "version": "2.0", "update_interval": 0},
    {"bundle_id": "com.example.excluded", "name": "Excluded", "version": "2.0", "update_interval": null},
    {"bundle_id": "com.example.home", "name": "Home", "version": "2.0"},
    {"bundle_id": "com.example.volume", "name": "Volume", "version": "2.0"},
    {"bundle_id": "ostrel.shelvo", "name": "Shelvo", "version": "9.0"},
    {"bundle_id": "com.example.duplicate", "name": "Duplicate", "version": "2.0"},
    {"bundle_id": "com.example.duplicate", "name": "Duplicate Again", "version": "0.1", "update_interval": 0},
    {"bundle_id": "com.example.linked", "name": "Linked", "version": "2.0"},
    {"bundle_id": "com.example.missing", "name": "Not Installed", "version": "1.0"}
  ])");
  // Managed for every user, so the unprivileged run reads it too.
  writeTextFile(agent.root / "etc/shelvo/managed/ostrel.shelvo.plist",
                R"(<plist version="1.0"><dict><key>ExcludeAppsUpdate</key>
                   <array><string>com.example.excluded</string></array></dict></plist>)");
  std::filesystem::permissions(agent.root / "etc/shelvo/managed", std::filesystem::perms(0755));

  auto result = agent.runAsNobody({"--check-updates"});
  EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
  EXPECT_EQ(linesOf(result.out), (std::vector<std::string>{
                                     "WARNING: This feature is experimental",
                                     "",
                                     "App updates found: 6",
                                     "- Newer, 1.9 > 1.10",
                                     "- Unversioned, Unknown > 1.0",
                                     "- Build Only, 7 > 8",
                                     "- Duplicate, 1.0 > 2.0",
                                     "- Duplicate Again, 1.0 > 2.0",
                                     "- Linked, 1.0 > 2.0",
                                 }));

  auto suite = nobodysSuite();
  EXPECT_EQ(suite.integerForKey("Updates"), 6);
  auto stored = decodeInstalledAppItems(suite.dataForKey("UpdateDetails").value_or(""));
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->size(), 6u);
  const InstalledAppItem& newer = (*stored)[0];
  EXPECT_EQ(newer.id, "com.example.newer");
  EXPECT_EQ(newer.name, "Newer");
  EXPECT_EQ(newer.icon, "https://i/n.png");
  EXPECT_EQ(newer.version, "1.9");
  EXPECT_EQ(newer.newVersion, "1.10");
  EXPECT_TRUE(newer.updateAvailable);
  EXPECT_EQ(newer.appUrl, fileURLForFolder((agent.root / "Applications/Newer.app").string()));
  EXPECT_FALSE(newer.sourceIsMAS);
  EXPECT_EQ((*stored)[3].name, "Duplicate");
  EXPECT_EQ((*stored)[4].name, "Duplicate Again") << "judged by the first record";

  auto messages = agent.logMessages();
  auto has = [&](const std::string& message) {
    return std::find(messages.begin(), messages.end(), message) != messages.end();
  };
  EXPECT_TRUE(has("Install source for com.example.store is Mac App Store or VPP"));
  EXPECT_TRUE(has("Updates are disabled for com.example.disabled, update will be hidden"));
  EXPECT_TRUE(
      has("App with Bundle ID of com.example.excluded is excluded from updates, update will be "
          "hidden"));
  EXPECT_TRUE(
      has("App com.example.unversioned does not have a version, falling back to build number..."));
  EXPECT_TRUE(has("App is ignored because it was found in another location: " +
                  fileURLForFolder((agent.root / "Users/alice/Applications/Home.app").string())));
  EXPECT_TRUE(has("App ostrel.shelvo was found with version: 1.0"))
      << "the desktop app is examined, only never listed";
}

TEST_F(CheckUpdatesTest, RootSeesTheSummaryButNothingIsStored) {
  makeBundle("Applications/Newer.app", "com.example.newer", "1.0");
  service.setAppList(R"([{"bundle_id": "com.example.newer", "name": "Newer", "version": "2.0"}])");
  // Exclusions must be an array: a string excludes nothing.
  agent.writePreference("ostrel.shelvo", "ExcludeAppsUpdate", "-string", {"com.example.newer"});
  auto result = agent.run({"--check-updates"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out,
            "WARNING: This feature is experimental\n\nApp updates found: 1\n- Newer, 1.0 > 2.0\n");
  platform::Preferences rootSuite(files, "ostrel.shelvo", platform::RootPrefix(agent.root.path()),
                                  {"root", "/root"});
  EXPECT_FALSE(rootSuite.objectForKey("Updates"));
  EXPECT_FALSE(rootSuite.objectForKey("UpdateDetails"));
  auto requests = service.requests();  // the list is fetched without the credential
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["target"], "/apps");
  EXPECT_FALSE(requests[0]["headers"].contains("Authorization"));
  EXPECT_FALSE(requests[0]["headers"].contains("User-Agent"));
}

TEST_F(CheckUpdatesTest, AListThatDoesNotDecodeReportsNoUpdatesAndStoresAnEmptyResult) {
  makeBundle("Applications/A.app", "com.example.a", "1.0");
  for (const char* list : {R"([{"bundle_id": "com.example.a", "version": "2.0"}, {"name": "x"}])",
                           R"({"bundle_id": "com.example.a", "version": "2.0"})", ""}) {
    service.setAppList(list);
    auto result = agent.runAsNobody({"--check-updates"});
    EXPECT_EQ(result.exitStatus, 0) << list;
    EXPECT_EQ(result.out, "WARNING: This feature is experimental\n\nNo app updates found\n")
        << list;
    auto suite = nobodysSuite();
    EXPECT_EQ(suite.dataForKey("UpdateDetails"), "[]");
    EXPECT_EQ(suite.integerForKey("Updates"), 0);
  }
}

TEST_F(CheckUpdatesTest, AFailedFetchEndsWith1AndLeavesTheStoredResult) {
  TempDir scratch;
  HttpsServer noContent((scratch / "ca.pem").string());
  noContent.routes().Get(
      "/apps", [](const httplib::Request&, httplib::Response& response) { response.status = 204; });
  noContent.start();
  agent.use(noContent.url(), (scratch / "ca.pem").string());
  auto result = agent.run({"--check-updates"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, "Error getting Shelvo App list. HTTP Error: 204\n");

  agent.environment["SHELVO_SERVICE_URL"] = "https://127.0.0.1:1";
  auto refused = agent.run({"--check-updates"});
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_EQ(refused.out, "Failed to get install information: Could not connect to the server.\n");
}

}  // namespace
}  // namespace shelvo::test
