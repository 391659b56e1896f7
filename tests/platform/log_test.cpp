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
  auto records = sink->records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].level, LogLevel::Debug);
  EXPECT_EQ(records[1].level, LogLevel::Default);
  EXPECT_EQ(records[1].message, "two\nlines\n");
  EXPECT_EQ(records[2].level, LogLevel::Error);
  EXPECT_EQ(records[2].message, "three <private>");
  EXPECT_EQ(records[2].subsystem, "ostrel.shelvo");
  EXPECT_EQ(records[2].category, "Agent");
  EXPECT_EQ(logLevelPriority(LogLevel::Debug), 7);
  EXPECT_EQ(logLevelPriority(LogLevel::Default), 5);
  EXPECT_EQ(logLevelPriority(LogLevel::Error), 3);
}

TEST(Logger, FileSinkWritesOneJsonObjectPerLine) {
  test::TempDir dir;
  auto path = (dir / "log.jsonl").string();
  Logger logger(LogConfig{FileSink::open(path), false}, "ostrel.shelvo", "Agent");
  logger.log("%{public}s", {"quote \" backslash \\ tab \t newline \n bell \a bad \xff end"});
  logger.error("second");
  std::string text = test::readTextFile(path);
  auto firstEnd = text.find('\n');
  ASSERT_NE(firstEnd, std::string::npos);
  std::string first = text.substr(0, firstEnd);
  EXPECT_NE(first.find(R"("level":"default","subsystem":"ostrel.shelvo","category":"Agent")"),
            std::string::npos)
      << first;
  EXPECT_NE(
      first.find(
          R"("message":"quote \" backslash \\ tab \t newline \n bell \u0007 bad \ufffd end")"),
      std::string::npos)
      << first;
  EXPECT_NE(first.find("\"pid\":" + std::to_string(::getpid()) + "}"), std::string::npos);
  EXPECT_NE(text.find(R"("level":"error")", firstEnd), std::string::npos);
}

}  // namespace
}  // namespace shelvo::platform
