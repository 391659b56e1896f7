#include "platform/system/user.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace shelvo::platform {

UserAccount effectiveUserAccount() {
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    return {};
  }
  UserAccount account{found->pw_name != nullptr ? found->pw_name : "", std::nullopt, found->pw_uid};
  if (found->pw_dir != nullptr && found->pw_dir[0] == '/') account.home = found->pw_dir;
  return account;
}

std::optional<unsigned> uidOfUser(const std::string& name) {
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (name.empty() ||
      ::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    return std::nullopt;
  }
  return found->pw_uid;
}

}  // namespace shelvo::platform
