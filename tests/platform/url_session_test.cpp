// The request timeout against real HTTPS servers on loopback that stall, trickle or fall
// silent: an idle timeout, not a deadline for the whole answer.
#include <gtest/gtest.h>

#include <thread>

#include "platform/http/url_session.h"
#include "tests/support/https_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/trickling_server.h"

namespace shelvo::test {
namespace {

using std::chrono::milliseconds;

class RequestTimeoutTest : public ::testing::Test {
 protected:
  platform::DataTaskResult fetch(const std::string& url, std::chrono::seconds timeout) {
    platform::URLSessionConfiguration configuration;
    configuration.caFile = ca.string();
    configuration.timeoutOverride = timeout;
    platform::URLRequest request;
    request.url = url + "/apps/x";
    return platform::URLSession(configuration).perform(request);
  }

  TempDir scratch;
  std::filesystem::path ca = scratch / "ca.pem";
};

TEST_F(RequestTimeoutTest, AServerThatStallsTimesOut) {
  HttpsServer server(ca.string());
  server.routes().Get(".*", [](const httplib::Request&, httplib::Response& response) {
    std::this_thread::sleep_for(std::chrono::seconds(4));
    response.set_content("late", "text/plain");
  });
  server.start();
  auto result = fetch(server.url(), std::chrono::seconds(1));
  ASSERT_TRUE(result.error.has_value());
  EXPECT_EQ(result.error->code, platform::kURLErrorTimedOut);
  EXPECT_EQ(result.error->localizedDescription, "The request timed out.");
}

TEST_F(RequestTimeoutTest, AServerThatFallsSilentMidAnswerTimesOut) {
  TricklingHttpsServer silent(ca.string(), {{milliseconds(0), "A"}, {milliseconds(4000), "AAA"}});
  auto result = fetch(silent.url(), std::chrono::seconds(1));
  ASSERT_TRUE(result.error.has_value());
  EXPECT_EQ(result.error->code, platform::kURLErrorTimedOut);
}

TEST_F(RequestTimeoutTest, TheTimeoutIsAnIdleTimeoutNotATotal) {
  // One byte every 2 s, longer than the 5 s timeout in all: never idle for 5 s, so it succeeds,
  // though it averages less than a byte a second.
  TricklingHttpsServer slow(ca.string(), {{milliseconds(0), "a"},
                                          {milliseconds(2000), "b"},
                                          {milliseconds(2000), "c"},
                                          {milliseconds(2000), "d"}});
  auto result = fetch(slow.url(), std::chrono::seconds(5));
  ASSERT_FALSE(result.error.has_value()) << result.error->localizedDescription;
  EXPECT_EQ(result.data, "abcd");
}

}  // namespace
}  // namespace shelvo::test
