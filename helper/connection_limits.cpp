#include "helper/connection_limits.h"

namespace shelvo {

std::shared_ptr<ConnectionLimits::Slot> ConnectionLimits::reserve(uid_t uid) {
  std::lock_guard lock(mutex_);
  std::size_t& mine = perUser_[uid];
  if (mine >= kPerUser || total_ >= kTotal) return nullptr;
  ++mine;
  ++total_;
  return std::make_shared<Slot>(*this, uid);
}

void ConnectionLimits::release(uid_t uid) {
  std::lock_guard lock(mutex_);
  auto found = perUser_.find(uid);
  if (found != perUser_.end() && --found->second == 0) perUser_.erase(found);
  --total_;
}

}  // namespace shelvo
