#pragma once

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>

namespace shelvo {

// Caps the connections one user, and all users together, may hold at once, so no user can use
// up the helper's descriptors, threads or memory. A slot is held from accept until the
// connection and any work started for it have ended.
class ConnectionLimits {
 public:
  static constexpr std::size_t kPerUser = 16;
  static constexpr std::size_t kTotal = 256;

  class Slot;
  // A slot for a connection of uid; null when a cap is reached.
  std::shared_ptr<Slot> reserve(uid_t uid);

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
