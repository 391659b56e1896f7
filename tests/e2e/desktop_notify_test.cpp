// shelvo --notify run by root, as the install and update scripts run it: the notification goes
// to every active local graphical session that a logind stand-in lists, on that user's own
// session bus (a real dbus-daemon under $SHELVO_ROOT/run/user/<uid>/bus), from a child that
// has become the user.
#include <gtest/gtest.h>
#include <pwd.h>

#include "tests/e2e/agent_harness.h"
#include "tests/support/https_server.h"
#include "tests/support/paths.h"
#include "tests/support/private_bus.h"
#include "tests/support/silent_bus.h"

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "rest of a tiny image";

unsigned testUser(const std::string& name) {
  if (::getpwnam(name.c_str()) == nullptr) {
    runProgram({"useradd", "--system", "--user-group", "--no-create-home", "--shell",
                "/usr/sbin/nologin", name},
               {});
  }
  const passwd* entry = ::getpwnam(name.c_str());
  if (entry == nullptr) throw std::runtime_error("cannot create the test user " + name);
  return entry->pw_uid;
}

unsigned groupOf(unsigned uid) {
  return ::getpwuid(uid)->pw_gid;
}

// One person at the machine: a session bus of their own and a notification server on it.
struct Desktop {
  Desktop(const fs::path& root, const fs::path& records, unsigned uid)
      : uid(uid),
        socket(root / "run/user" / std::to_string(uid) / "bus"),
        record(records / (std::to_string(uid) + ".jsonl")),
        bus((fs::create_directories(socket.parent_path()), socket)),
        server(startStandIn(kFakeNotificationServerBinary, {record.string()}, bus.address(),
                            records)) {}
  std::vector<nlohmann::json> posted() const { return jsonLines(record); }

  unsigned uid;
  fs::path socket;
  fs::path record;
  PrivateBus bus;
  std::unique_ptr<BackgroundProcess> server;
};

class DesktopNotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ann = testUser("shelvo-test-ann");
    bob = testUser("shelvo-test-bob");
    agent.storeAuthorization();
    for (const auto& folder : {agent.root.path(), downloads.path()})
      fs::permissions(folder, fs::perms(0755));
    fs::create_directories(agent.root / "run/user");
    for (const char* folder : {"run", "run/user"})
      fs::permissions(agent.root / folder, fs::perms(0755));
    agent.environment["TMPDIR"] = downloads.path().string();
    agent.environment["DBUS_SYSTEM_BUS_ADDRESS"] = systemBus.address();
    agent.environment["SHELVO_CA_FILE"] = (scratch / "ca.pem").string();
    icons.routes().Get("/logo.png", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(kPng, "image/png");
    });
    icons.start();
  }
  void startLogind(const std::vector<std::string>& sessions) {
    logind = startStandIn(kFakeLogindBinary, sessions, systemBus.address(), scratch.path());
  }
  std::string session(const std::string& id, unsigned uid, const std::string& rest) const {
    return id + ":" + std::to_string(uid) + ":user" + std::to_string(uid) + ":" + rest;
  }
  bool readableAs(unsigned uid, const std::string& file) {
    return runProgram({"setpriv", "--reuid=" + std::to_string(uid), "--regid=nogroup",
                       "--clear-groups", "--", "cat", file},
                      {})
               .out == kPng;
  }

  AgentHarness agent;
  TempDir scratch;
  TempDir downloads;
  PrivateBus systemBus;
  HttpsServer icons{(scratch / "ca.pem").string()};
  std::unique_ptr<BackgroundProcess> logind;
  unsigned ann = 0;
  unsigned bob = 0;
};

TEST_F(DesktopNotifyTest, EveryoneAtTheMachineGetsItFromAChildRunningAsThem) {
  Desktop annsDesktop(agent.root.path(), scratch.path(), ann);
  Desktop bobsDesktop(agent.root.path(), scratch.path(), bob);
  unsigned nobody = ::getpwnam("nobody")->pw_uid;
  startLogind({session("1", ann, "yes:no:wayland:user"), session("2", bob, "yes:no:x11:user"),
               session("3", ann, "yes:yes:x11:user"), session("4", bob, "yes:no:tty:user"),
               session("5", nobody, "yes:no:x11:user"), session("6", bob, "no:no:x11:user"),
               session("7", ann, "yes:no:x11:greeter"), session("8", ann, "yes:no:x11:user")});
  auto result = agent.run({"--notify", "--title", "Shelvo", "--subtitle", "Example", "--body",
                           "Installed", "--icon", icons.url() + "/logo.png"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  for (const Desktop* desktop : {&annsDesktop, &bobsDesktop}) {
    auto notifications = desktop->posted();
    ASSERT_EQ(notifications.size(), 1u) << desktop->uid;
    EXPECT_EQ(notifications[0]["summary"], "Shelvo");
    EXPECT_EQ(notifications[0]["body"], "Example\nInstalled");
    EXPECT_EQ(notifications[0]["sender_uid"], desktop->uid) << "the child runs as the user";
    EXPECT_EQ(notifications[0]["sender_groups"], nlohmann::json::array({groupOf(desktop->uid)}))
        << "and with the user's groups, none of root's";
    for (const std::string target : notifications[0]["sender_descriptors"])
      EXPECT_TRUE(target == "/dev/null" || target.starts_with("socket:")) << target;
    std::string image = notifications[0]["hints"]["image-path"];
    ASSERT_TRUE(image.starts_with("file://")) << image;
    EXPECT_TRUE(readableAs(desktop->uid, image.substr(7)));
  }
  auto debug = agent.logMessages("debug");
  auto loggedAbout = [&](const std::string& text) {
    return std::any_of(debug.begin(), debug.end(),
                       [&](const std::string& m) { return m.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(loggedAbout("session 3: it is remote"));
  EXPECT_TRUE(loggedAbout("session 4: it is not graphical (type tty)"));
  EXPECT_TRUE(loggedAbout("session 5: its user has no session bus"));
  EXPECT_TRUE(loggedAbout("session 6: it is not active"));
  EXPECT_TRUE(loggedAbout("session 7: it is of class greeter"));
  EXPECT_TRUE(loggedAbout("session 8: its user was already found in another session"));
  EXPECT_TRUE(agent.logged("debug", "Notification authorization are already granted"));
}

TEST_F(DesktopNotifyTest, NobodyAtTheMachineMeansDenied) {
  Desktop annsDesktop(agent.root.path(), scratch.path(), ann);
  startLogind({session("1", ann, "yes:yes:x11:user"), session("2", bob, "yes:no:x11:user")});
  auto result = agent.run({"--notify", "--body", "b", "--icon", icons.url() + "/logo.png"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(agent.logged("error", "Notification authorization denied"));
  EXPECT_TRUE(annsDesktop.posted().empty());
  EXPECT_TRUE(fs::is_empty(downloads.path())) << "nothing was downloaded";
}

TEST_F(DesktopNotifyTest, AUsersBusThatStallsCostsAtMostTheDeadlineAndIsSkipped) {
  SilentBus annsBus(agent.root / ("run/user/" + std::to_string(ann) + "/bus"),
                    SilentBus::Mode::neverAnswers);
  SilentBus bobsBus(agent.root / ("run/user/" + std::to_string(bob) + "/bus"),
                    SilentBus::Mode::silentAfterAuthentication);
  startLogind({session("1", ann, "yes:no:x11:user"), session("2", bob, "yes:no:wayland:user")});
  ProgramRun run{{kAgentBinary, "--notify", "--body", "b"}, agent.environment, {}};
  run.timeout = std::chrono::seconds(120);
  auto started = std::chrono::steady_clock::now();
  auto result = runProgram(run);
  // 5 s for both sessions at once, with room for a busy machine; without the deadline the
  // buses held the run for 90 s.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(45));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  for (const char* id : {"1", "2"}) {
    EXPECT_TRUE(agent.logged("default", std::string("Not notifying session ") + id +
                                            ": its session bus did not answer within 5 seconds"))
        << id;
  }
  EXPECT_TRUE(agent.logged("error", "Notification authorization denied"));
}

TEST_F(DesktopNotifyTest, AChildThatCouldBecomeRootAgainPostsNothing) {
  Desktop annsDesktop(agent.root.path(), scratch.path(), ann);
  startLogind({session("1", ann, "yes:no:x11:user")});
  // With this securebit a process keeps its capabilities when its uid changes, so dropping to
  // the user would leave the child able to take root back.
  ProgramRun run{
      {"setpriv", "--securebits=+no_setuid_fixup", "--", kAgentBinary, "--notify", "--body", "b"},
      agent.environment,
      {}};
  auto result = runProgram(run);
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_TRUE(annsDesktop.posted().empty());
  EXPECT_TRUE(
      agent.logged("debug", "Not notifying session 1: cannot become uid " + std::to_string(ann)));
  EXPECT_TRUE(agent.logged("error", "Notification authorization denied"));
}

}  // namespace
}  // namespace shelvo::test
