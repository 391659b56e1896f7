// What the update run says about its schedule, with the clock injected: a run that is due goes
// on to the request, which here ends at once because the service URL cannot be formed (status 20).
#include <gtest/gtest.h>

#include <cstdlib>

#include "agent/shelvo_agent_controller.h"
#include "tests/support/capture.h"
#include "tests/support/test_agent_platform.h"

namespace shelvo {
namespace {

constexpr std::int64_t kNow = 1'700'000'000;
constexpr int kDue = 20;
constexpr int kSkipped = 0;

class UpdateDueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }

  void set(const std::string& domain, const std::string& key, std::int64_t value) {
    platform::PosixEnv files;
    platform::Preferences suite(files, domain, platform::RootPrefix(root.path()),
                                {"root", "/root"});
    ASSERT_TRUE(suite.setObject(key, platform::makeInteger(value)));
  }
  int run(bool scheduled) {
    auto env = std::make_shared<test::TestEnv>();
    env->fixedNow = std::chrono::system_clock::time_point(std::chrono::seconds(kNow));
    AgentPlatform p = test::makeTestAgentPlatform(root, sink, console, "root", "/root", env);
    p.serviceURL = "http://not-https.example";
    ShelvoAgentController controller(std::move(p), {"shelvo", "--update"});
    return test::endStatusOf(
        [&] { controller.runUpdates(true, false, scheduled, *Credential::check("token")); });
  }

  test::TempDir root;
  std::shared_ptr<test::CaptureSink> sink = std::make_shared<test::CaptureSink>();
  std::shared_ptr<test::CapturedConsole> console = std::make_shared<test::CapturedConsole>();
};

TEST_F(UpdateDueTest, ReportsTheLastUpdateTheHoursAndTheInterval) {
  set("ostrel.shelvo", "UpdateInterval", 7);
  set("ostrel.shelvo.agent", "LastUpdated", kNow - 2 * 3600 - 60);
  EXPECT_EQ(run(false), kSkipped);
  EXPECT_EQ(console->text(),
            "Checking for application updates...\n"
            "Last Updated: 2023-11-14 20:12:20 +0000\n"
            "Hours since last update: 2\n"
            "Configured update interval in days: 7\n"
            "Skipping updates...\n");
  bool sawThreshold = false;
  for (const auto& record : sink->records()) {
    if (record.message == "Update interval in hours: 167") sawThreshold = true;
  }
  EXPECT_TRUE(sawThreshold);
}

TEST_F(UpdateDueTest, AnAbsentLastUpdateIsTheStartOf1970AndDue) {
  set("ostrel.shelvo", "UpdateInterval", 0);
  EXPECT_EQ(run(false), kDue);
  EXPECT_NE(console->text().find("Last Updated: 1970-01-01 00:00:00 +0000\n"), std::string::npos);
  EXPECT_NE(console->text().find("Using default update interval in days: 1\n"), std::string::npos);
  EXPECT_NE(console->text().find("Error while encoding download URL\n"), std::string::npos);
}

}  // namespace
}  // namespace shelvo
