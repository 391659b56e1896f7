#include <gtest/gtest.h>

#include "platform/env/files.h"
#include "platform/log/log_format.h"
#include "platform/log/logger.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace shelvo::platform {
namespace {

TEST(LogFormat, PrivateArgumentsAreRedactedUnlessRevealed) {
  struct Row {
    std::string_view format;
    std::initializer_list<LogArgument> arguments;
    const char* hidden;
    const char* revealed;
  };
  const Row rows[] = {
      {"Error installing %{public}s: %s",
       {"com.x", "boom"},
       "Error installing com.x: <private>",
       "Error installing com.x: boom"},
      {"%{public}@ and %@", {"a", "b"}, "a and <private>", "a and b"},
      {"Failed: %ld", {std::int64_t{-404}}, "Failed: -404", "Failed: -404"},
      {"%d%%", {std::int64_t{50}}, "50%", "50%"},
      {"no arguments", {}, "no arguments", "no arguments"},
      {"%s", {"line one\nline two"}, "<private>", "line one\nline two"},
      {"missing %{public}s", {}, "missing (null)", "missing (null)"},
      {"100% sure %q", {}, "100% sure %q", "100% sure %q"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(formatLogMessage(row.format, row.arguments, false), row.hidden) << row.format;
    EXPECT_EQ(formatLogMessage(row.format, row.arguments, true), row.revealed) << row.format;
  }
}

TEST(Logger, CarriesSubsystemCategoryAndLevelAndKeepsMessagesByteExact) {
  auto sink = std::make_shared<test::CaptureSink>();
  Logger logger(LogConfig{sink, false}, "ostrel.shelvo", "Agent");
  logger.debug("one");
  logger.log("%{public}s", {"two\nlines\n"});
  logger.error("three %s", {"secret"});
  std::vector<std::string> seen;
  for (const auto& r : sink->records())
    seen.push_back(std::to_string(logLevelPriority(r.level)) + " " + r.subsystem + " " +
                   r.category + " " + r.message);
  EXPECT_EQ(seen, (std::vector<std::string>{"7 ostrel.shelvo Agent one",
                                            "5 ostrel.shelvo Agent two\nlines\n",
                                            "3 ostrel.shelvo Agent three <private>"}));
}

TEST(Logger, FileSinkWritesOneJsonObjectPerLine) {
  test::TempDir dir;
  auto path = (dir / "log.jsonl").string();
  Logger logger(LogConfig{FileSink::open(path), false}, "ostrel.shelvo", "Agent");
  logger.log("%{public}s", {"quote \" backslash \\ tab \t newline \n bell \a bad \xff end"});
  logger.error("second");
  std::string text = test::readTextFile(path);
  std::string first = text.substr(0, text.find('\n'));
  for (const std::string& part :
       {std::string(R"("level":"default","subsystem":"ostrel.shelvo","category":"Agent")"),
        std::string(
            R"("message":"quote \" backslash \\ tab \t newline \n bell \u0007 bad \ufffd end")"),
        "\"pid\":" + std::to_string(::getpid()) + "}"})
    EXPECT_NE(first.find(part), std::string::npos) << part << " in " << first;
  EXPECT_NE(text.find(R"("level":"error")", first.size()), std::string::npos);
}

}  // namespace
}  // namespace shelvo::platform
