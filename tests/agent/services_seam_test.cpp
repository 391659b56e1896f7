// The agent's error paths for HTTP, service management and notifications, driven through the
// services seam: each test overrides the one call it is about, without servers or buses.
#include <gtest/gtest.h>

#include "tests/support/controller_fixture.h"

namespace shelvo {
namespace {

// Answers every request with the given result, at once.
class AnsweringServices final : public test::TestServices {
 public:
  explicit AnsweringServices(platform::DataTaskResult answer) : answer_(std::move(answer)) {}
  void dataTask(const platform::URLSessionConfiguration&, platform::URLRequest request,
                std::function<void(platform::DataTaskResult)> completion) override {
    requested.push_back(request);
    completion(answer_);
  }
  std::vector<platform::URLRequest> requested;

 private:
  platform::DataTaskResult answer_;
};

class StubSchedule final : public platform::ScheduledService {
 public:
  StubSchedule(platform::ServiceStatus status, std::optional<platform::Error> failure)
      : status_(status), failure_(std::move(failure)) {}
  const std::string& unitName() const override { return unit_; }
  platform::ServiceStatus status() const override { return status_; }
  platform::Status registerService() const override { return outcome(); }
  platform::Status unregisterService() const override { return outcome(); }

 private:
  std::string unit_ = "ostrel.shelvo.agent.timer";
  platform::Status outcome() const {
    if (failure_) return *failure_;
    return platform::success();
  }

  platform::ServiceStatus status_;
  std::optional<platform::Error> failure_;
};

class ScheduleServices final : public test::TestServices {
 public:
  std::unique_ptr<platform::ScheduledService> scheduledService(
      const std::string&, const platform::RootPrefix&) override {
    return std::make_unique<StubSchedule>(status, failure);
  }
  platform::ServiceStatus status = platform::ServiceStatus::NotRegistered;
  std::optional<platform::Error> failure;
};

// A machine without a system bus, and without systemd's private socket.
class BusLessServices final : public test::TestServices {
 public:
  platform::Result<platform::BusConnection> systemBus() override {
    return platform::Error{"no system bus in this test"};
  }
};

class StubNotifications final : public platform::NotificationPoster {
 public:
  StubNotifications(bool authorized, std::vector<std::string>& posted)
      : authorized_(authorized), posted_(posted) {}
  platform::NotificationAuthorization authorizationStatus() override {
    return authorized_ ? platform::NotificationAuthorization::Authorized
                       : platform::NotificationAuthorization::Denied;
  }
  platform::Status add(const std::string&, const platform::NotificationContent& content) override {
    if (content.title == "Refused") return platform::Error{"the server refused it"};
    posted_.push_back(content.title + "|" + content.body);
    return platform::success();
  }

 private:
  bool authorized_;
  std::vector<std::string>& posted_;
};

class NotificationServices final : public test::TestServices {
 public:
  std::unique_ptr<platform::NotificationPoster> notificationCenter() override {
    return std::make_unique<StubNotifications>(authorized, posted);
  }
  bool authorized = true;
  std::vector<std::string> posted;
};

class ServicesSeamTest : public test::ControllerTest {
 protected:
  // Runs one operation of an agent built on services; the status the process ended with.
  template <typename Operation>
  int run(std::shared_ptr<platform::Services> on, Operation operation,
          const std::string& user = "root") {
    services = std::move(on);
    serviceURL = "https://apps.example//";  // every trailing slash is dropped
    return operate(operation, user);
  }
};

TEST_F(ServicesSeamTest, TransportAndHttpFailuresOfTheInstallRequest) {
  struct Row {
    platform::DataTaskResult answer;
    int status;
    std::string out;
  };
  platform::DataTaskResult timedOut;
  timedOut.error = platform::makeURLError(platform::kURLErrorTimedOut, "apps.example");
  platform::DataTaskResult serverError;
  serverError.response = platform::HTTPResponse{500};
  platform::DataTaskResult noResponse;
  platform::DataTaskResult emptyBody;
  emptyBody.response = platform::HTTPResponse{200};
  const Row rows[] = {
      {timedOut, 20,
       "shelvo: the request to https://apps.example/apps/com.example.app?notification=true&"
       "dock=false&progress=false failed\n"  // the hint, on standard error in the program
       "Failed to get install information: The request timed out.\n"},
      {serverError, 21,
       "shelvo: https://apps.example/apps/com.example.app?notification=true&dock=false&"
       "progress=false answered 500\n"
       "Failed to get install information: 500\n"},
      {noResponse, 21,
       "shelvo: https://apps.example/apps/com.example.app?notification=true&dock=false&"
       "progress=false gave no HTTP answer\n"},
      {emptyBody, 22, "Failed to get install information: Unknown error\n"},
  };
  for (const auto& row : rows) {
    console = std::make_shared<test::CapturedConsole>();
    auto services = std::make_shared<AnsweringServices>(row.answer);
    int status = run(services, [](ShelvoAgentController& controller) {
      controller.requestInstallInformation("com.example.app", true, false, false, false, false,
                                           *Credential::check("token"));
    });
    EXPECT_EQ(status, row.status) << row.out;
    EXPECT_EQ(console->text(), row.out);
    ASSERT_EQ(services->requested.size(), 1u);
    EXPECT_TRUE(
        services->requested[0].url.starts_with("https://apps.example/apps/com.example.app?"));
    // The agent's own idle timeout, whatever the HTTP library's default.
    EXPECT_EQ(services->requested[0].timeoutInterval, std::chrono::seconds(60));
  }
}

TEST_F(ServicesSeamTest, ATimedOutUpdateRequestReportsStatusZero) {
  platform::DataTaskResult timedOut;
  timedOut.error = platform::makeURLError(platform::kURLErrorTimedOut, "apps.example");
  auto services = std::make_shared<AnsweringServices>(timedOut);
  int status = run(services, [](ShelvoAgentController& c) {
    c.requestUpdateInformation(true, false, *Credential::check("token"));
  });
  EXPECT_EQ(status, 21);
  ASSERT_EQ(services->requested.size(), 1u);
  EXPECT_EQ(services->requested[0].timeoutInterval, std::chrono::seconds(60));
  EXPECT_NE(console->text().find("Failed to get update information: 0\n"), std::string::npos);
}

TEST_F(ServicesSeamTest, AFailedRegistrationIsReportedAndStillEndsWithZero) {
  auto services = std::make_shared<ScheduleServices>();
  services->failure =
      platform::Error{"Job for ostrel.shelvo.agent.timer failed with result 'dependency'.", 0,
                      "org.freedesktop.systemd1.JobFailed"};
  EXPECT_EQ(run(services, [](ShelvoAgentController& c) { c.enableUpdateSchedule(); }), 0);
  EXPECT_EQ(console->text(),
            "Update schedule is not enabled, trying to enable...\n"
            "Error enabling update schedule\n"
            "org.freedesktop.systemd1.JobFailed: Job for ostrel.shelvo.agent.timer failed with "
            "result 'dependency'.\n");
  auto records = sink->records();
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records.back().level, platform::LogLevel::Error);
  EXPECT_EQ(records.back().category, "LaunchDaemon");

  console = std::make_shared<test::CapturedConsole>();
  EXPECT_EQ(run(services, [](ShelvoAgentController& c) { c.disableUpdateSchedule(); }), 0);
  EXPECT_EQ(console->text(),
            "Error disabling update schedule: Job for ostrel.shelvo.agent.timer failed with "
            "result 'dependency'.\n");

  services->status = platform::ServiceStatus::Unknown;
  console = std::make_shared<test::CapturedConsole>();
  EXPECT_EQ(run(services, [](ShelvoAgentController& c) { c.enableUpdateSchedule(); }), 0);
  EXPECT_EQ(console->text(), "Unknown error while enabling update schedule\n");
}

TEST_F(ServicesSeamTest, WithoutABusTheScheduleIsUnknownAndCannotBeDisabled) {
  auto services = std::make_shared<BusLessServices>();
  EXPECT_EQ(run(services, [](ShelvoAgentController& c) { c.printUpdateScheduleStatus(); }), -1);
  EXPECT_EQ(console->text(), "Update schedule is unknown\n");
  console = std::make_shared<test::CapturedConsole>();
  EXPECT_EQ(run(services, [](ShelvoAgentController& c) { c.disableUpdateSchedule(); }), 0);
  EXPECT_EQ(console->text(), "Error disabling update schedule: no system bus in this test\n");
}

TEST_F(ServicesSeamTest, ADeniedOrRefusedNotificationEndsWithZero) {
  auto services = std::make_shared<NotificationServices>();
  services->authorized = false;
  EXPECT_EQ(
      run(
          services, [](ShelvoAgentController& c) { c.postNotification("Title", {}, "Body", {}); },
          "someone"),
      0);
  EXPECT_TRUE(services->posted.empty());
  EXPECT_EQ(sink->messages().back(), "Notification authorization denied");

  services->authorized = true;
  EXPECT_EQ(
      run(
          services, [](ShelvoAgentController& c) { c.postNotification("Title", {}, "Body", {}); },
          "someone"),
      -1);
  EXPECT_EQ(services->posted, std::vector<std::string>{"Title|Body"});
  EXPECT_EQ(env->slept.size(), 1u) << "a pause lets the server take the notification";

  EXPECT_EQ(
      run(
          services, [](ShelvoAgentController& c) { c.postNotification("Refused", {}, "Body", {}); },
          "someone"),
      0);
  EXPECT_EQ(sink->messages().back(), "Cannot post the notification: the server refused it");
}

}  // namespace
}  // namespace shelvo
