// The request timeout against real HTTPS servers on loopback that stall, trickle or fall
// silent: an idle timeout, not a deadline for the whole answer.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "platform/http/url_session.h"
#include "tests/support/https_server.h"
#include "tests/support/temp_dir.h"

namespace shelvo::test {
namespace {

using std::chrono::milliseconds;
using Piece = std::pair<milliseconds, std::string>;  // a pause, then the bytes sent at once

class RequestTimeoutTest : public ::testing::Test {
 protected:
  // The answer to a request given up on is still written: that must not end the test process.
  void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }

  // Fetches from a server that answers 200 with a body in pieces, each after its pause; the
  // first pause comes before the head. Every piece leaves at once.
  platform::DataTaskResult fetch(std::vector<Piece> pieces, std::chrono::seconds timeout) {
    HttpsServer server(ca.string());
    std::size_t length = 0;
    for (const auto& piece : pieces) length += piece.second.size();
    server.routes().Get(".*", [&](const httplib::Request&, httplib::Response& response) {
      std::this_thread::sleep_for(pieces.front().first);
      response.set_content_provider(length, "text/plain", [&](size_t, size_t, auto& sink) {
        for (std::size_t i = 0; i < pieces.size(); ++i) {
          if (i > 0) std::this_thread::sleep_for(pieces[i].first);
          if (!sink.write(pieces[i].second.data(), pieces[i].second.size())) return false;
        }
        return true;
      });
    });
    server.start();
    platform::URLSessionConfiguration configuration;
    configuration.caFile = ca.string();
    configuration.timeoutOverride = timeout;
    platform::URLRequest request;
    request.url = server.url() + "/apps/x";
    return platform::URLSession(configuration).perform(request);
  }

  TempDir scratch;
  std::filesystem::path ca = scratch / "ca.pem";
};

TEST_F(RequestTimeoutTest, AServerThatStallsOrFallsSilentMidAnswerTimesOut) {
  for (const auto& pieces :
       {std::vector<Piece>{{milliseconds(4000), "late"}},
        std::vector<Piece>{{milliseconds(0), "A"}, {milliseconds(4000), "AAA"}}}) {
    auto result = fetch(pieces, std::chrono::seconds(1));
    ASSERT_TRUE(result.error.has_value());
    EXPECT_EQ(result.error->code, platform::kURLErrorTimedOut);
    EXPECT_EQ(result.error->localizedDescription, "The request timed out.");
  }
}

TEST_F(RequestTimeoutTest, TheTimeoutIsAnIdleTimeoutNotATotal) {
  // One byte every 2 s, longer than the 5 s timeout in all: never idle for 5 s, so it succeeds,
  // though it averages less than a byte a second.
  auto result = fetch({{milliseconds(0), "a"},
                       {milliseconds(2000), "b"},
                       {milliseconds(2000), "c"},
                       {milliseconds(2000), "d"}},
                      std::chrono::seconds(5));
  ASSERT_FALSE(result.error.has_value()) << result.error->localizedDescription;
  EXPECT_EQ(result.data, "abcd");
}

}  // namespace
}  // namespace shelvo::test
