#include "agent/schedule/update_schedule.h"

#include <gtest/gtest.h>

#include <limits>

namespace shelvo {
namespace {

constexpr std::int64_t kNow = 1'700'000'000;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

TEST(UpdateScheduleTest, ARunIsDueFromTheThresholdHourOn) {
  struct Row {
    std::int64_t configuredDays;
    std::optional<std::int64_t> secondsAgo;  // absent: never updated
    bool switchedOff;
    std::int64_t intervalDays;
    std::int64_t thresholdHours;
    std::int64_t hours;
    bool due;
  };
  const Row rows[] = {
      {1, 22 * 3600 + 3599, false, 1, 23, 22, false},  // whole hours, truncated
      {1, 23 * 3600, false, 1, 23, 23, true},
      {1, 23 * 3600 + 1800, false, 1, 23, 23, true},
      {7, 166 * 3600 + 3599, false, 7, 167, 166, false},
      {7, 167 * 3600, false, 7, 167, 167, true},
      {1, -2 * 3600 - 1, false, 1, 23, -2, false},  // a last update in the future
      {0, 23 * 3600, true, 1, 23, 23, true},        // switched off, yet one day for a manual run
      {-3, 22 * 3600, false, 1, 23, 22, false},     // below one day counts as one
      {1, std::nullopt, false, 1, 23, kNow / 3600, true},  // never: the start of 1970
      {kMax / 2, 0, false, kMax / 2, kMax, 0, false},      // too large to count in hours
  };
  const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(kNow));
  for (const auto& row : rows) {
    std::optional<std::int64_t> last;
    if (row.secondsAgo) last = kNow - *row.secondsAgo;
    const UpdateSchedule schedule(row.configuredDays, last);
    SCOPED_TRACE(testing::Message() << row.configuredDays << " days, "
                                    << (row.secondsAgo ? *row.secondsAgo : -1) << " s ago");
    EXPECT_EQ(schedule.switchedOff(), row.switchedOff);
    EXPECT_EQ(schedule.usesDefaultInterval(), row.configuredDays < 1);
    EXPECT_EQ(schedule.intervalDays(), row.intervalDays);
    EXPECT_EQ(schedule.thresholdHours(), row.thresholdHours);
    EXPECT_EQ(schedule.hoursSinceLastUpdate(now), row.hours);
    EXPECT_EQ(schedule.isDue(now), row.due);
  }
}

}  // namespace
}  // namespace shelvo
