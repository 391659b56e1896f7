// shelvo --notify with icons served over HTTPS: as a user, to a notification server stand-in on
// that user's session bus; and as root, as the install and update scripts run it, to every active
// local graphical session that a logind stand-in lists, on that user's own session bus (a real
// dbus-daemon under $SHELVO_ROOT/run/user/<uid>/bus), from a child that has become the user.
#include <gtest/gtest.h>
#include <pwd.h>

#include <set>

#include "tests/e2e/agent_harness.h"
#include "tests/support/https_server.h"
#include "tests/support/paths.h"
#include "tests/support/private_bus.h"
#include "tests/support/silent_bus.h"

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "rest of a tiny image";
const std::string kGif = "GIF89a and the rest";

// The agent, its icons served over HTTPS and saved in a folder of the test's own.
class IconsTest : public ::testing::Test {
 protected:
  IconsTest() {
    for (const auto& folder : {agent.root.path(), scratch.path(), downloads.path()})
      fs::permissions(folder, fs::perms(0755));
    agent.environment["TMPDIR"] = downloads.path().string();
    agent.environment["SHELVO_CA_FILE"] = (scratch / "ca.pem").string();
    auto serve = [](std::string content, std::string type) {
      return [=](const httplib::Request&, httplib::Response& response) {
        response.set_content(content, type);
      };
    };
    icons.routes().Get(R"(/icons/logo\.gif/?)", serve(kGif, "image/gif"));
    icons.routes().Get("/icons/logo", serve(kPng, "image/png"));
    icons.routes().Get("/icons/missing.png", [](const httplib::Request&, auto& response) {
      response.status = 404;
      response.set_content("<html>Not Found</html>", "text/html");
    });
    icons.start();
  }
  std::vector<fs::path> savedIcons() const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(downloads.path()))
      files.push_back(entry.path());
    return files;
  }

  AgentHarness agent;
  TempDir scratch;
  TempDir downloads;
  HttpsServer icons{(scratch / "ca.pem").string()};
};

class NotifyTest : public IconsTest {
 protected:
  NotifyTest() {
    agent.storeSharedAuthorization();
    fs::permissions(downloads.path(), fs::perms(0777));
    agent.environment["SHELVO_LOG_PRIVATE"] = "1";  // show the error descriptions
  }
  void startServer(bool bodyMarkup = false) {
    std::vector<std::string> arguments{record.string()};
    if (bodyMarkup) arguments.push_back("body-markup");
    server = startStandIn(kFakeNotificationServerBinary, arguments, bus.address(), scratch.path());
    agent.environment["DBUS_SESSION_BUS_ADDRESS"] = bus.address();
  }
  ProgramResult notify(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "--notify");
    return agent.runAsNobody(arguments);
  }

  PrivateBus bus{scratch / "session-bus"};
  fs::path record = scratch / "posted.jsonl";
  std::unique_ptr<BackgroundProcess> server;
};

TEST_F(NotifyTest, EachRunPostsOneNotificationWithWhatItCouldUse) {
  startServer();
  const std::string url = icons.url() + "/icons/";
  const std::string title = "Missing argument after --title, please specify the title\n";
  const std::string subtitle = "Missing argument after --subtitle, please specify the subtitle\n";
  const std::vector<std::string> unsupported{"Failed to download icon from URL", "unsupported URL"};
  struct Row {
    std::vector<std::string> arguments;
    std::string summary;
    std::string body;
    std::string icon;  // the saved icon's extension; empty for none
    std::vector<std::string> errors;
    std::string out;
  };
  const Row rows[] = {
      {{"--body", "Installed"}, "App Shelvo", "Installed", "", {}, ""},
      {{"--title", "Shelvo", "--subtitle", "Example", "--body", "Installed <ok> & done"},
       "Shelvo",
       "Example\nInstalled <ok> & done",
       "",
       {},
       ""},
      {{"--body", "Hi", "--subtitle", "S", "--title"}, "App Shelvo", "S\nHi", "", {}, title},
      {{"--body", "Hi", "--icon", "--subtitle"}, "App Shelvo", "Hi", "", unsupported, subtitle},
      {{"--subtitle", "", "--body", "Hi"}, "App Shelvo", "Hi", "", {}, ""},
      {{"--body", "b", "--icon", url + "logo.gif?size=2x"}, "App Shelvo", "b", ".gif", {}, ""},
      {{"--body", "b", "--icon", url + "logo"}, "App Shelvo", "b", ".png", {}, ""},
      // Schemes are case-insensitive; a trailing slash and an escaped dot keep the extension.
      {{"--body", "b", "--icon", "HTTPS" + url.substr(5) + "logo"},
       "App Shelvo",
       "b",
       ".png",
       {},
       ""},
      {{"--body", "b", "--icon", url + "logo.gif/"}, "App Shelvo", "b", ".gif", {}, ""},
      {{"--body", "b", "--icon", url + "logo%2Egif"}, "App Shelvo", "b", ".gif", {}, ""},
      {{"--body", "b", "--icon", "https://127.0.0.1:1/icon.png"},
       "App Shelvo",
       "b",
       "",
       {"Failed to download icon from URL", "Could not connect to the server."},
       ""},
      {{"--body", "b", "--icon", url + "missing.png"},
       "App Shelvo",
       "b",
       "",
       {"Failed to attach icon to notification", "Unrecognized attachment file type"},
       ""},
      {{"--body", "b", "--icon", "not a url"}, "App Shelvo", "b", "", unsupported, ""},
      // Plain http and file URLs stay refused.
      {{"--body", "b", "--icon", "http://127.0.0.1/icons/logo"},
       "App Shelvo",
       "b",
       "",
       unsupported,
       ""},
      {{"--body", "b", "--icon", "file:///etc/passwd"}, "App Shelvo", "b", "", unsupported, ""},
  };
  std::set<std::string> identifiers;
  std::set<std::string> images;
  for (const auto& row : rows) {
    const std::string& what = row.arguments.back();
    auto errorsBefore = agent.logMessages("error").size();
    auto result = notify(row.arguments);
    EXPECT_EQ(result.exitStatus, 0) << what;
    EXPECT_EQ(result.out, row.out) << what;
    auto notifications = jsonLines(record);
    ASSERT_EQ(notifications.size(), identifiers.size() + 1) << what;
    const auto& posted = notifications.back();
    EXPECT_EQ(posted["summary"], row.summary) << what;
    EXPECT_EQ(posted["body"], row.body) << what;
    identifiers.insert(posted["hints"]["x-shelvo-identifier"].get<std::string>());
    auto errors = agent.logMessages("error");
    EXPECT_EQ(std::vector<std::string>(errors.begin() + errorsBefore, errors.end()), row.errors)
        << what;
    EXPECT_EQ(posted["hints"].contains("image-path"), !row.icon.empty()) << what;
    if (row.icon.empty()) continue;
    std::string image = posted["hints"]["image-path"];
    ASSERT_TRUE(image.starts_with("file://")) << image;
    fs::path saved = image.substr(7);
    EXPECT_EQ(saved.extension(), row.icon) << what;
    EXPECT_EQ(readTextFile(saved), row.icon == ".gif" ? kGif : kPng) << what;
    EXPECT_TRUE(images.insert(saved.stem()).second) << "each icon under a name of its own";
  }
  EXPECT_EQ(identifiers.size(), std::size(rows)) << "each notification under an id of its own";
  EXPECT_EQ(savedIcons().size(), images.size()) << "a download not attached is not kept";
  EXPECT_TRUE(agent.logged("debug", "Notification authorization are already granted"));
}

TEST_F(NotifyTest, MarkupServersGetAnEscapedBody) {
  startServer(true);
  notify({"--subtitle", "A&B", "--body", "<b>x</b>"});
  auto notifications = jsonLines(record);
  ASSERT_EQ(notifications.size(), 1u);
  EXPECT_EQ(notifications[0]["body"], "A&amp;B\n&lt;b&gt;x&lt;/b&gt;");
}

TEST_F(NotifyTest, NoServerOrNoBusMeansDenied) {
  agent.environment["DBUS_SESSION_BUS_ADDRESS"] = bus.address();  // a bus, but no server on it
  auto noServer = notify({"--body", "b", "--icon", icons.url() + "/icons/logo"});
  EXPECT_EQ(noServer.exitStatus, 0);
  EXPECT_EQ(agent.logMessages("error"),
            std::vector<std::string>{"Notification authorization denied"});
  agent.environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (scratch / "none").string();
  EXPECT_EQ(notify({"--body", "b"}).exitStatus, 0);
  EXPECT_TRUE(savedIcons().empty()) << "nothing was downloaded";
  EXPECT_TRUE(jsonLines(record).empty());
}

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

class DesktopNotifyTest : public IconsTest {
 protected:
  DesktopNotifyTest() {
    ann = testUser("shelvo-test-ann");
    bob = testUser("shelvo-test-bob");
    agent.storeAuthorization();
    fs::create_directories(agent.root / "run/user");
    for (const char* folder : {"run", "run/user"})
      fs::permissions(agent.root / folder, fs::perms(0755));
    agent.environment["DBUS_SYSTEM_BUS_ADDRESS"] = systemBus.address();
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

  PrivateBus systemBus;
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
                           "Installed", "--icon", icons.url() + "/icons/logo"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  for (const Desktop* desktop : {&annsDesktop, &bobsDesktop}) {
    auto notifications = desktop->posted();
    ASSERT_EQ(notifications.size(), 1u) << desktop->uid;
    EXPECT_EQ(notifications[0]["summary"], "Shelvo");
    EXPECT_EQ(notifications[0]["body"], "Example\nInstalled");
    EXPECT_EQ(notifications[0]["sender_uid"], desktop->uid) << "the child runs as the user";
    EXPECT_EQ(notifications[0]["sender_groups"],
              nlohmann::json::array({::getpwuid(desktop->uid)->pw_gid}))
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

TEST_F(DesktopNotifyTest, AUsersBusThatStallsCostsAtMostTheDeadlineAndIsSkipped) {
  SilentBus annsBus(agent.root / ("run/user/" + std::to_string(ann) + "/bus"),
                    SilentBus::Mode::neverAnswers);
  SilentBus bobsBus(agent.root / ("run/user/" + std::to_string(bob) + "/bus"),
                    SilentBus::Mode::silentAfterAuthentication);
  startLogind({session("1", ann, "yes:no:x11:user"), session("2", bob, "yes:no:wayland:user")});
  ProgramRun run{{kAgentBinary, "--notify", "--body", "b", "--icon", icons.url() + "/icons/logo"},
                 agent.environment,
                 {}};
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
  EXPECT_TRUE(savedIcons().empty()) << "nothing was downloaded for nobody";
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
