#include "platform/notifications/as_user.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace shelvo::platform {
namespace {

constexpr int kCannotBecomeUser = 125;

// The user's groups, looked up before the fork: the child of a threaded process should not
// take the locks a name-service lookup takes.
std::optional<std::vector<gid_t>> groupsOf(const std::string& name, gid_t gid) {
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgrouplist(name.c_str(), gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(name.c_str(), gid, groups.data(), &count) < 0) return std::nullopt;
  }
  groups.resize(static_cast<std::size_t>(count));
  return groups;
}

// Becomes the user for good; false when any step fails.
bool becomeUser(uid_t uid, gid_t gid, const std::vector<gid_t>& groups) {
  return ::setgroups(groups.size(), groups.data()) == 0 && ::setresgid(gid, gid, gid) == 0 &&
         ::setresuid(uid, uid, uid) == 0 && (uid == 0 || ::setuid(0) != 0) && ::geteuid() == uid &&
         ::getegid() == gid;
}

}  // namespace

Result<int> runAsUser(unsigned uid, const std::function<int()>& work) {
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return Error{"no account has uid " + std::to_string(uid)};
  gid_t gid = found->pw_gid;
  auto groups = groupsOf(found->pw_name, gid);
  if (!groups) return Error{"cannot list the groups of uid " + std::to_string(uid)};
  pid_t child = ::fork();
  if (child < 0) return Error{std::string("cannot fork: ") + std::strerror(errno)};
  if (child == 0) {
    if (!becomeUser(uid, gid, *groups)) ::_exit(kCannotBecomeUser);
    ::_exit(work() & 0xFF);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return Error{std::string("cannot wait: ") + std::strerror(errno)};
  }
  if (!WIFEXITED(status)) return Error{"the child for uid " + std::to_string(uid) + " died"};
  if (WEXITSTATUS(status) == kCannotBecomeUser)
    return Error{"cannot become uid " + std::to_string(uid)};
  return WEXITSTATUS(status);
}

}  // namespace shelvo::platform
