#include <gtest/gtest.h>

#include "tests/support/controller_fixture.h"

namespace shelvo {
namespace {

class DispatchTest : public test::ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    errors = std::make_shared<test::CapturedConsole>();
  }
  void storeAuthorization() {
    set("ostrel.shelvo", "authorization", platform::makeString("token"));
  }
};

// Standard error says at once, before the first pause, and once, what the wait is for and how to
// end it; the console never shows the usage text.
TEST_F(DispatchTest, TheCredentialIsAwaitedThirtyOneTimesTenSecondsApartThenStatus10) {
  const std::pair<const char*, std::string> rows[] = {
      {"root",
       "shelvo: no credential yet; waiting up to 5 minutes for key \"authorization\" in domain "
       "ostrel.shelvo. Set it with: sudo shelvo-defaults write ostrel.shelvo authorization "
       "-string TOKEN (or in /etc/shelvo/managed/ostrel.shelvo.plist, mode 0600)\n"},
      {"nobody",
       "shelvo: no credential readable by user nobody; waiting up to 5 minutes for key "
       "\"authorization\" in domain ostrel.shelvo. If it is set for root (sudo shelvo-defaults "
       "write, or the managed file at mode 0600), run with sudo\n"},
  };
  std::string waited;
  for (int i = 0; i < 31; ++i) waited += "Authorization not found yet, waiting max 5 minutes...\n";
  for (const auto& [user, notice] : rows) {
    sink = std::make_shared<test::CaptureSink>();
    env = std::make_shared<test::TestEnv>();
    SetUp();  // a new standard error and clock
    std::string noticeAtFirstPause;
    env->onSleep = [&] {
      if (env->slept.size() == 1) noticeAtFirstPause = errors->text();
    };
    EXPECT_EQ(dispatch({"--help"}, user), 10);
    EXPECT_EQ(console->text(), waited + "Error: Authorization not found!\n");
    EXPECT_EQ(env->slept, std::vector<std::chrono::milliseconds>(31, std::chrono::seconds(10)));
    EXPECT_EQ(noticeAtFirstPause, notice);
    EXPECT_EQ(errors->text(), notice);
    auto records = sink->records();
    ASSERT_EQ(records.size(), 32u);
    EXPECT_EQ(records.front().level, platform::LogLevel::Default);
    EXPECT_EQ(records.back().level, platform::LogLevel::Error);
    EXPECT_EQ(records.back().message, "<private>") << "dispatch messages are logged with %s";
  }
}

TEST_F(DispatchTest, ACredentialThatAppearsDuringTheWaitEndsIt) {
  int sleeps = 0;
  env->onSleep = [&] {
    if (++sleeps == 3) storeAuthorization();
  };
  EXPECT_EQ(dispatch({"--version"}), 0);
  EXPECT_EQ(sleeps, 3);
  EXPECT_NE(console->text().find("Shelvo Agent version: Unknown (Unknown)"), std::string::npos);
}

TEST_F(DispatchTest, AnEmptyCredentialCountsAsPresent) {
  set("ostrel.shelvo", "authorization", platform::makeString(""));
  EXPECT_EQ(dispatch({"--version"}), 0);
  EXPECT_TRUE(env->slept.empty());
}

TEST_F(DispatchTest, OnlyTheExactNameRootPassesTheRootCheck) {
  storeAuthorization();
  for (const char* name : {"Root", "ROOT", "root ", "nobody", ""}) {
    EXPECT_EQ(dispatch({"--install", "com.example.app"}, name), 1) << name;
    EXPECT_EQ(console->text(), "This application must be run as root. Try the sudo command.\n");
  }
  EXPECT_TRUE(sink->records().empty()) << "the refusal is printed only";
}

TEST_F(DispatchTest, TheMacOSGateRefusesScheduleCommandsBelow13WithStatus0) {
  storeAuthorization();
  osVersion = {12, 7, 1};
  for (const char* command : {"--schedule-enable", "--schedule-disable", "--schedule-status"}) {
    EXPECT_EQ(dispatch({command}, "nobody"), 0) << command;
    EXPECT_EQ(console->text(), "Only supported on macOS 13 or later\n") << "gate before root check";
  }
  EXPECT_TRUE(platform::isAtLeast({13, 0, 0}, {13, 0, 0}));
  EXPECT_TRUE(platform::isAtLeast({14, 0, 0}, {13, 5, 0}));
  EXPECT_FALSE(platform::isAtLeast({12, 99, 99}, {13, 0, 0}));
}

TEST_F(DispatchTest, NotifyOptionsAreReportedAndBodyErrorsEndTheCommand) {
  storeAuthorization();
  EXPECT_EQ(dispatch({"--notify", "--title"}), 13);
  EXPECT_EQ(console->text(), "Missing --body BODY_HERE\n");
  EXPECT_EQ(dispatch({"-n", "--title", "T", "--body"}), 12);
  EXPECT_EQ(console->text(), "Missing argument after --body, please specify the body\n");
}

}  // namespace
}  // namespace shelvo
