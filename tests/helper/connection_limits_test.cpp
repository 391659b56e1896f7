#include "helper/connection_limits.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace shelvo {
namespace {

using Cap = ConnectionLimits::Cap;

class ConnectionLimitsTest : public ::testing::Test {
 protected:
  // Reserves and keeps a slot for uid; the cap that refused, or nothing when one was given.
  std::optional<Cap> take(uid_t uid, std::size_t count = 1) {
    for (std::size_t i = 0; i < count; ++i) {
      auto reservation = limits.reserve(uid);
      if (!reservation.slot) return reservation.refusedBy;
      held.push_back(std::move(reservation.slot));
    }
    return std::nullopt;
  }

  ConnectionLimits limits;
  std::vector<std::shared_ptr<ConnectionLimits::Slot>> held;
};

TEST_F(ConnectionLimitsTest, SixteenUsersAtTheirCapDoNotLockOutASeventeenth) {
  for (uid_t user = 1; user <= 16; ++user) ASSERT_EQ(take(user, 16), std::nullopt) << user;
  EXPECT_EQ(take(1), Cap::perUser);
  EXPECT_EQ(take(17), std::nullopt) << "a user who holds no connection";
  EXPECT_EQ(take(17), Cap::total);
  EXPECT_EQ(take(18), std::nullopt);
  held.clear();
  EXPECT_EQ(take(1, 16), std::nullopt) << "released slots come back";
  EXPECT_EQ(take(1), Cap::perUser);
}

TEST_F(ConnectionLimitsTest, TheCeilingRefusesEveryoneAt1024) {
  ASSERT_EQ(take(1, 16), std::nullopt);
  for (uid_t user = 2; held.size() < ConnectionLimits::kCeiling; ++user)
    ASSERT_EQ(take(user), std::nullopt) << user;
  EXPECT_EQ(take(100000), Cap::ceiling);
  held.pop_back();
  EXPECT_EQ(take(100000), std::nullopt);
}

}  // namespace
}  // namespace shelvo
