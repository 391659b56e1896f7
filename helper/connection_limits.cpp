#include "helper/connection_limits.h"

namespace shelvo {

ConnectionLimits::Reservation ConnectionLimits::reserve(uid_t uid) {
  std::lock_guard lock(mutex_);
  auto found = perUser_.find(uid);
  std::size_t mine = found == perUser_.end() ? 0 : found->second;
  if (total_ >= kCeiling) return {nullptr, Cap::ceiling};
  if (mine >= kPerUser) return {nullptr, Cap::perUser};
  if (total_ >= kTotal && mine > 0) return {nullptr, Cap::total};
  ++perUser_[uid];
  ++total_;
  return {std::make_shared<Slot>(*this, uid)};
}

void ConnectionLimits::release(uid_t uid) {
  std::lock_guard lock(mutex_);
  auto found = perUser_.find(uid);
  if (found != perUser_.end() && --found->second == 0) perUser_.erase(found);
  --total_;
}

std::string ConnectionLimits::refusal(Cap cap, uid_t uid) {
  const std::string user = std::to_string(uid);
  switch (cap) {
    case Cap::perUser:
      return "Too many connections from user " + user + " (per-user limit 16); refusing a new one";
    case Cap::total:
      return "Too many connections in all (total limit 256); refusing a new one from user " + user;
    case Cap::ceiling:
      break;
  }
  return "Too many connections in all (hard limit 1024); refusing a new one from user " + user;
}

}  // namespace shelvo
