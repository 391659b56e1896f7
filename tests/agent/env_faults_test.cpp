// What the agent answers when what it stands on fails it: one call of the Env (the files) or of
// the services (HTTP, service management, notifications) is overridden per case, without
// servers or buses.
#include <gtest/gtest.h>
#include <cerrno>

#include "tests/support/controller_fixture.h"

namespace shelvo {
namespace {

using platform::FileOwnership;
using platform::Path;
using platform::Result;

bool isCredentialSuite(const Path& path) {
  return path.filename() == "ostrel.shelvo.plist";
}

class CredentialReadFails : public test::TestEnv {
  Result<std::string> readOwnedFile(const Path& path, std::size_t maxBytes,
                                    FileOwnership& ownership) const override {
    if (!isCredentialSuite(path)) return TestEnv::readOwnedFile(path, maxBytes, ownership);
    return platform::Error{"cannot read " + path.string() + ": Input/output error", EIO};
  }
};

class PreferenceFileCorrupt : public test::TestEnv {
  Result<std::string> readOwnedFile(const Path& path, std::size_t maxBytes,
                                    FileOwnership& ownership) const override {
    auto bytes = TestEnv::readOwnedFile(path, maxBytes, ownership);
    if (!bytes || !isCredentialSuite(path)) return bytes;
    return bytes->substr(0, bytes->size() / 2);
  }
};

class BundleMissing : public test::TestEnv {
  bool isFolder(const Path& path) const override {
    return path.string().find("Shelvo Agent.app") == std::string::npos && TestEnv::isFolder(path);
  }
};

class EnvFaultsTest : public test::ControllerTest {
 protected:
  // A credential and the agent's bundle, so that without a fault the version is printed as
  // "3.1 (164)".
  void SetUp() override {
    ControllerTest::SetUp();
    set("ostrel.shelvo", "authorization", platform::makeString("token"));
    test::writeTextFile(
        *root / "Applications/Shelvo.app/Contents/Resources/Shelvo Agent.app/Contents/Info.plist",
        "<plist version=\"1.0\"><dict><key>CFBundleShortVersionString</key><string>3.1</string>"
        "<key>CFBundleVersion</key><string>164</string></dict></plist>");
  }
};

TEST_F(EnvFaultsTest, EachFailingReadGivesTheAgentsAnswerNotACrash) {
  const char* notFound = "Error: Authorization not found!\n";
  struct Row {
    const char* fault;
    std::shared_ptr<test::TestEnv> env;
    int status;
    const char* answer;
  };
  const Row rows[] = {
      {"the credential cannot be read", std::make_shared<CredentialReadFails>(), 10, notFound},
      {"the preference file is cut short", std::make_shared<PreferenceFileCorrupt>(), 10, notFound},
      {"the agent's bundle is missing", std::make_shared<BundleMissing>(), 0,
       "Shelvo Agent version: Unknown (Unknown)\n"},
  };
  for (const auto& row : rows) {
    env = row.env;
    EXPECT_EQ(dispatch({"--version"}), row.status) << row.fault;
    EXPECT_TRUE(console->text().ends_with(row.answer)) << row.fault << ":\n" << console->text();
  }
}

// The agent's error paths for HTTP, service management and notifications, driven through the
// services seam: each test overrides the one call it is about, without servers or buses.
// A timer unit whose registration fails with failure, when set.
struct StubSchedule final : platform::ScheduledService {
  const std::string& unitName() const override { return unit; }
  platform::ServiceStatus status() const override { return state; }
  platform::Status registerService() const override { return outcome(); }
  platform::Status unregisterService() const override { return outcome(); }
  platform::Status outcome() const {
    if (failure) return *failure;
    return platform::success();
  }
  std::string unit = "ostrel.shelvo.agent.timer";
  platform::ServiceStatus state = platform::ServiceStatus::NotRegistered;
  std::optional<platform::Error> failure;
};

class ScheduleServices final : public test::TestServices {
 public:
  std::unique_ptr<platform::ScheduledService> scheduledService(
      const std::string&, const platform::RootPrefix&) override {
    return std::make_unique<StubSchedule>(schedule);
  }
  StubSchedule schedule;
};

// A machine without a system bus, and without systemd's private socket.
class BusLessServices final : public test::TestServices {
 public:
  platform::Result<platform::BusConnection> systemBus() override {
    return platform::Error{"no system bus in this test"};
  }
};

// A notification server that refuses the title "Refused" and keeps the others as "title|body".
class NotificationServices final : public test::TestServices {
 public:
  struct Poster final : platform::NotificationPoster {
    explicit Poster(NotificationServices& services) : services(services) {}
    platform::NotificationAuthorization authorizationStatus() override {
      return services.authorized ? platform::NotificationAuthorization::Authorized
                                 : platform::NotificationAuthorization::Denied;
    }
    platform::Status add(const std::string&, const platform::NotificationContent& c) override {
      if (c.title == "Refused") return platform::Error{"the server refused it"};
      services.posted.push_back(c.title + "|" + c.body);
      return platform::success();
    }
    NotificationServices& services;
  };
  std::unique_ptr<platform::NotificationPoster> notificationCenter() override {
    return std::make_unique<Poster>(*this);
  }
  bool authorized = true;
  std::vector<std::string> posted;
};

class ServicesSeamTest : public test::ControllerTest {
 protected:
  // Runs one operation of an agent built on services, on a new console; the status the process
  // ended with.
  template <typename Operation>
  int run(std::shared_ptr<platform::Services> on, Operation operation,
          const std::string& user = "root") {
    services = std::move(on);
    serviceURL = "https://apps.example//";  // every trailing slash is dropped
    return operate(operation, user);
  }
};

// The classification of each answer has its own table; here: the hint goes before the message,
// an empty part is not printed, and both requests carry the agent's own idle timeout, whatever
// the HTTP library's default.
TEST_F(ServicesSeamTest, AFailedRequestPrintsTheHintThenTheMessage) {
  auto timedOut = test::failed(platform::makeURLError(platform::kURLErrorTimedOut, "apps.example"));
  const std::string url =
      "https://apps.example/apps/com.example.app?notification=true&dock=false&progress=false";
  struct Row {
    platform::DataTaskResult answer;
    int status;
    std::string out;
  };
  const Row rows[] = {
      // The hint goes to standard error in the program.
      {timedOut, 20,
       "shelvo: the request to " + url +
           " failed\nFailed to get install information: The request timed out.\n"},
      {platform::DataTaskResult(), 21, "shelvo: " + url + " gave no HTTP answer\n"},
      {test::answered(200, std::nullopt), 22, "Failed to get install information: Unknown error\n"},
  };
  auto services = std::make_shared<test::AnsweringServices>();
  for (const auto& row : rows) {
    services->answer = row.answer;
    int status = run(services, [](ShelvoAgentController& controller) {
      controller.requestInstallInformation("com.example.app", true, false, false, false, false,
                                           *Credential::check("token"));
    });
    EXPECT_EQ(status, row.status) << row.out;
    EXPECT_EQ(console->text(), row.out);
  }
  services->answer = timedOut;
  EXPECT_EQ(run(services,
                [](ShelvoAgentController& c) {
                  c.requestUpdateInformation(true, false, *Credential::check("token"));
                }),
            21);
  EXPECT_TRUE(console->text().ends_with("Failed to get update information: 0\n"));
  ASSERT_EQ(services->requested.size(), 4u);
  for (const auto& request : services->requested)
    EXPECT_EQ(request.timeoutInterval, std::chrono::seconds(60)) << request.url;
}

TEST_F(ServicesSeamTest, AFailedRegistrationIsReportedAndStillEndsWithZero) {
  auto enable = [](ShelvoAgentController& c) { c.enableUpdateSchedule(); };
  auto disable = [](ShelvoAgentController& c) { c.disableUpdateSchedule(); };
  const std::string failure = "Job for ostrel.shelvo.agent.timer failed with result 'dependency'.";
  auto services = std::make_shared<ScheduleServices>();
  services->schedule.failure = platform::Error{failure, 0, "org.freedesktop.systemd1.JobFailed"};
  EXPECT_EQ(run(services, enable), 0);
  EXPECT_EQ(console->text(),
            "Update schedule is not enabled, trying to enable...\nError enabling update schedule\n"
            "org.freedesktop.systemd1.JobFailed: " +
                failure + "\n");
  EXPECT_EQ(sink->records().back().level, platform::LogLevel::Error);
  EXPECT_EQ(sink->records().back().category, "LaunchDaemon");
  EXPECT_EQ(run(services, disable), 0);
  EXPECT_EQ(console->text(), "Error disabling update schedule: " + failure + "\n");
  services->schedule.state = platform::ServiceStatus::Unknown;
  EXPECT_EQ(run(services, enable), 0);
  EXPECT_EQ(console->text(), "Unknown error while enabling update schedule\n");
  // Without a bus the schedule is unknown and cannot be disabled.
  auto busLess = std::make_shared<BusLessServices>();
  EXPECT_EQ(run(busLess, [](ShelvoAgentController& c) { c.printUpdateScheduleStatus(); }), -1);
  EXPECT_EQ(console->text(), "Update schedule is unknown\n");
  EXPECT_EQ(run(busLess, disable), 0);
  EXPECT_EQ(console->text(), "Error disabling update schedule: no system bus in this test\n");
}

TEST_F(ServicesSeamTest, ADeniedOrRefusedNotificationEndsWithZero) {
  auto services = std::make_shared<NotificationServices>();
  auto post = [&](const std::string& title) {
    return run(
        services, [&](ShelvoAgentController& c) { c.postNotification(title, {}, "Body", {}); },
        "someone");
  };
  services->authorized = false;
  EXPECT_EQ(post("Title"), 0);
  EXPECT_TRUE(services->posted.empty());
  EXPECT_EQ(sink->messages().back(), "Notification authorization denied");

  services->authorized = true;
  EXPECT_EQ(post("Title"), -1);
  EXPECT_EQ(services->posted, std::vector<std::string>{"Title|Body"});
  EXPECT_EQ(env->slept.size(), 1u) << "a pause lets the server take the notification";

  EXPECT_EQ(post("Refused"), 0);
  EXPECT_EQ(sink->messages().back(), "Cannot post the notification: the server refused it");
}

}  // namespace
}  // namespace shelvo
