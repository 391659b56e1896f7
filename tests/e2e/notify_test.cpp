// shelvo --notify against a notification server stand-in on a private bus, with icons served
// over HTTPS.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/e2e/agent_harness.h"
#include "tests/support/https_server.h"
#include "tests/support/paths.h"
#include "tests/support/private_bus.h"

namespace shelvo::test {
namespace {

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "rest of a tiny image";
const std::string kGif = "GIF89a and the rest";

class NotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The credential where the unprivileged caller can read it.
    writeTextFile(agent.root / "etc/shelvo/ostrel.shelvo.plist",
                  R"(<plist version="1.0"><dict><key>authorization</key>
                     <string>x</string></dict></plist>)");
    for (const char* folder : {"etc", "etc/shelvo"})
      std::filesystem::permissions(agent.root / folder, std::filesystem::perms(0755));
    std::filesystem::permissions(scratch.path(), std::filesystem::perms(0755));
    std::filesystem::permissions(downloads.path(), std::filesystem::perms(0777));
    agent.environment["TMPDIR"] = downloads.path().string();
    agent.environment["SHELVO_LOG_PRIVATE"] = "1";  // show the error descriptions
    icons.routes().Get("/icons/logo.gif", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(kGif, "image/gif");
    });
    icons.routes().Get("/icons/logo.gif/",
                       [](const httplib::Request&, httplib::Response& response) {
                         response.set_content(kGif, "image/gif");
                       });
    icons.routes().Get("/icons/logo", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(kPng, "image/png");
    });
    icons.routes().Get("/icons/missing.png",
                       [](const httplib::Request&, httplib::Response& response) {
                         response.status = 404;
                         response.set_content("<html>Not Found</html>", "text/html");
                       });
    icons.start();
    agent.environment["SHELVO_CA_FILE"] = (scratch / "ca.pem").string();
  }

  void startServer(bool bodyMarkup = false) {
    std::string ready = (scratch / "ready").string();
    std::vector<std::string> arguments{kFakeNotificationServerBinary, ready, record.string()};
    if (bodyMarkup) arguments.push_back("body-markup");
    server = std::make_unique<BackgroundProcess>(
        arguments, std::map<std::string, std::string>{{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
    awaitFileLine(ready);
    agent.environment["DBUS_SESSION_BUS_ADDRESS"] = bus.address();
  }
  std::vector<nlohmann::json> posted() {
    std::vector<nlohmann::json> notifications;
    std::ifstream in(record);
    for (std::string line; std::getline(in, line);)
      notifications.push_back(nlohmann::json::parse(line));
    return notifications;
  }
  std::vector<std::string> errors() {
    std::vector<std::string> messages;
    for (const auto& entry : agent.logEntries()) {
      if (entry["level"] == "error") messages.push_back(entry["message"]);
    }
    return messages;
  }
  std::vector<std::filesystem::path> savedIcons() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(downloads.path())) {
      files.push_back(entry.path());
    }
    return files;
  }

  AgentHarness agent;
  TempDir scratch;
  TempDir downloads;
  PrivateBus bus{scratch / "session-bus"};
  HttpsServer icons{(scratch / "ca.pem").string()};
  std::filesystem::path record = scratch / "posted.jsonl";
  std::unique_ptr<BackgroundProcess> server;
};

TEST_F(NotifyTest, TitleSubtitleAndBodyReachTheServer) {
  startServer();
  EXPECT_EQ(agent.runAsNobody({"--notify", "--body", "Installed"}).exitStatus, 0);
  EXPECT_EQ(agent
                .runAsNobody({"--notify", "--title", "Shelvo", "--subtitle", "Example", "--body",
                              "Installed <ok> & done"})
                .exitStatus,
            0);
  auto notifications = posted();
  ASSERT_EQ(notifications.size(), 2u);
  EXPECT_EQ(notifications[0]["summary"], "App Shelvo");
  EXPECT_EQ(notifications[0]["body"], "Installed");
  EXPECT_FALSE(notifications[0]["hints"].contains("image-path"));
  EXPECT_EQ(notifications[1]["summary"], "Shelvo");
  EXPECT_EQ(notifications[1]["body"], "Example\nInstalled <ok> & done");
  EXPECT_NE(notifications[0]["hints"]["x-shelvo-identifier"],
            notifications[1]["hints"]["x-shelvo-identifier"]);
  EXPECT_TRUE(agent.logged("debug", "Notification authorization are already granted"));
}

TEST_F(NotifyTest, OptionsWithoutValueAreReportedAndLeftOut) {
  startServer();
  auto result = agent.runAsNobody({"--notify", "--body", "Hi", "--subtitle", "S", "--title"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "Missing argument after --title, please specify the title\n");
  auto subtitleLast = agent.runAsNobody({"--notify", "--body", "Hi", "--icon", "--subtitle"});
  EXPECT_EQ(subtitleLast.out, "Missing argument after --subtitle, please specify the subtitle\n");
  auto notifications = posted();
  ASSERT_EQ(notifications.size(), 2u);
  EXPECT_EQ(notifications[0]["summary"], "App Shelvo");
  EXPECT_EQ(notifications[0]["body"], "S\nHi");
  EXPECT_EQ(notifications[1]["body"], "Hi") << "no subtitle";
  EXPECT_FALSE(notifications[1]["hints"].contains("image-path"));
}

TEST_F(NotifyTest, MarkupServersGetAnEscapedBody) {
  startServer(true);
  agent.runAsNobody({"--notify", "--subtitle", "A&B", "--body", "<b>x</b>"});
  auto notifications = posted();
  ASSERT_EQ(notifications.size(), 1u);
  EXPECT_EQ(notifications[0]["body"], "A&amp;B\n&lt;b&gt;x&lt;/b&gt;");
}

TEST_F(NotifyTest, IconsAreSavedUnderUniqueNamesWithTheURLsExtension) {
  startServer();
  agent.runAsNobody({"--notify", "--body", "b", "--icon", icons.url() + "/icons/logo.gif?size=2x"});
  agent.runAsNobody({"--notify", "--body", "b", "--icon", icons.url() + "/icons/logo"});
  auto notifications = posted();
  ASSERT_EQ(notifications.size(), 2u);
  auto files = savedIcons();
  ASSERT_EQ(files.size(), 2u);
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return a.extension() < b.extension(); });
  EXPECT_EQ(files[0].extension(), ".gif");
  EXPECT_EQ(files[1].extension(), ".png");
  EXPECT_NE(files[0].stem(), files[1].stem());
  EXPECT_EQ(readTextFile(files[0]), kGif);
  for (const auto& notification : notifications) {
    std::string image = notification["hints"]["image-path"];
    EXPECT_TRUE(image == "file://" + files[0].string() || image == "file://" + files[1].string())
        << image;
  }
  EXPECT_NE(notifications[0]["hints"]["x-shelvo-identifier"],
            notifications[1]["hints"]["x-shelvo-identifier"]);
  EXPECT_TRUE(errors().empty());
}

TEST_F(NotifyTest, AFailedDownloadStillPosts) {
  startServer();
  auto result =
      agent.runAsNobody({"--notify", "--body", "b", "--icon", "https://127.0.0.1:1/icon.png"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(errors(), (std::vector<std::string>{"Failed to download icon from URL",
                                                "Could not connect to the server."}));
  auto notifications = posted();
  ASSERT_EQ(notifications.size(), 1u);
  EXPECT_FALSE(notifications[0]["hints"].contains("image-path"));
}

TEST_F(NotifyTest, ABodyThatIsNotAnImageIsRefusedAsAnAttachment) {
  startServer();
  auto result =
      agent.runAsNobody({"--notify", "--body", "b", "--icon", icons.url() + "/icons/missing.png"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(errors(), (std::vector<std::string>{"Failed to attach icon to notification",
                                                "Unrecognized attachment file type"}));
  auto notifications = posted();
  ASSERT_EQ(notifications.size(), 1u);
  EXPECT_FALSE(notifications[0]["hints"].contains("image-path"));
}

TEST_F(NotifyTest, AnIconTextThatIsNoURLPostsWithoutIcon) {
  startServer();
  auto result = agent.runAsNobody({"--notify", "--body", "b", "--icon", "not a url"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(errors(),
            (std::vector<std::string>{"Failed to download icon from URL", "unsupported URL"}));
  EXPECT_EQ(posted().size(), 1u);
}

TEST_F(NotifyTest, AnEmptySubtitleIsNoSubtitle) {
  startServer();
  agent.runAsNobody({"--notify", "--subtitle", "", "--body", "Hi"});
  auto notifications = posted();
  ASSERT_EQ(notifications.size(), 1u);
  EXPECT_EQ(notifications[0]["body"], "Hi");
}

TEST_F(NotifyTest, IconURLsAreReadAsThePlatformReadsThem) {
  startServer();
  std::string upper = "HTTPS" + icons.url().substr(5);  // schemes are case-insensitive
  agent.runAsNobody({"--notify", "--body", "b", "--icon", upper + "/icons/logo"});
  agent.runAsNobody({"--notify", "--body", "b", "--icon", icons.url() + "/icons/logo.gif/"});
  agent.runAsNobody({"--notify", "--body", "b", "--icon", icons.url() + "/icons/logo%2Egif"});
  auto notifications = posted();
  ASSERT_EQ(notifications.size(), 3u);
  for (const auto& notification : notifications)
    EXPECT_TRUE(notification["hints"].contains("image-path")) << notification;
  EXPECT_TRUE(notifications[1]["hints"]["image-path"].get<std::string>().ends_with(".gif"));
  EXPECT_TRUE(notifications[2]["hints"]["image-path"].get<std::string>().ends_with(".gif"));
  EXPECT_TRUE(errors().empty());
  // Plain http and file URLs stay refused.
  agent.runAsNobody({"--notify", "--body", "b", "--icon", "http://127.0.0.1/icons/logo"});
  agent.runAsNobody({"--notify", "--body", "b", "--icon", "file:///etc/passwd"});
  notifications = posted();
  ASSERT_EQ(notifications.size(), 5u);
  EXPECT_FALSE(notifications[3]["hints"].contains("image-path"));
  EXPECT_FALSE(notifications[4]["hints"].contains("image-path"));
}

TEST_F(NotifyTest, NoServerOrNoBusMeansDenied) {
  agent.environment["DBUS_SESSION_BUS_ADDRESS"] = bus.address();  // a bus, but no server on it
  auto noServer =
      agent.runAsNobody({"--notify", "--body", "b", "--icon", icons.url() + "/icons/logo"});
  EXPECT_EQ(noServer.exitStatus, 0);
  EXPECT_EQ(errors(), std::vector<std::string>{"Notification authorization denied"});
  agent.environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (scratch / "none").string();
  EXPECT_EQ(agent.runAsNobody({"--notify", "--body", "b"}).exitStatus, 0);
  EXPECT_TRUE(savedIcons().empty()) << "nothing was downloaded";
  EXPECT_TRUE(posted().empty());
}

}  // namespace
}  // namespace shelvo::test
