#pragma once

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace shelvo {

// Caps the connections one user, and all users together, may hold at once, so no user can use
// up the helper's descriptors, threads or memory, nor keep the others out. A slot is held from
// accept until the connection and any work started for it have ended.
class ConnectionLimits {
 public:
  static constexpr std::size_t kPerUser = 16;
  // Beyond this, only a user who holds no connection yet gets one: sixteen users at their
  // per-user cap must not lock out a seventeenth.
  static constexpr std::size_t kTotal = 256;
  // What protects the descriptors when many users connect at once.
  static constexpr std::size_t kCeiling = 1024;

  enum class Cap { perUser, total, ceiling };
  class Slot;
  struct Reservation {
    std::shared_ptr<Slot> slot;  // null when a cap refused
    Cap refusedBy = Cap::perUser;
  };
  Reservation reserve(uid_t uid);

  // What the log says of a connection the cap refused.
  static std::string refusal(Cap cap, uid_t uid);

 private:
  void release(uid_t uid);

  std::mutex mutex_;
  std::map<uid_t, std::size_t> perUser_;
  std::size_t total_ = 0;
};

class ConnectionLimits::Slot {
 public:
  Slot(ConnectionLimits& limits, uid_t uid) : limits_(limits), uid_(uid) {}
  ~Slot() { limits_.release(uid_); }
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

 private:
  ConnectionLimits& limits_;
  uid_t uid_;
};

}  // namespace shelvo
