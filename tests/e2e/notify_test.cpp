// shelvo --notify against a notification server stand-in on a private bus, with icons served
// over HTTPS.
#include <gtest/gtest.h>

#include <set>

#include "tests/e2e/agent_harness.h"
#include "tests/support/https_server.h"
#include "tests/support/paths.h"
#include "tests/support/private_bus.h"

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "rest of a tiny image";
const std::string kGif = "GIF89a and the rest";

class NotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    agent.storeSharedAuthorization();
    fs::permissions(scratch.path(), fs::perms(0755));
    fs::permissions(downloads.path(), fs::perms(0777));
    agent.environment["TMPDIR"] = downloads.path().string();
    agent.environment["SHELVO_LOG_PRIVATE"] = "1";  // show the error descriptions
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
    agent.environment["SHELVO_CA_FILE"] = (scratch / "ca.pem").string();
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
  std::vector<fs::path> savedIcons() const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(downloads.path()))
      files.push_back(entry.path());
    return files;
  }

  AgentHarness agent;
  TempDir scratch;
  TempDir downloads;
  PrivateBus bus{scratch / "session-bus"};
  HttpsServer icons{(scratch / "ca.pem").string()};
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

}  // namespace
}  // namespace shelvo::test
