#include "platform/notifications/as_user.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/system/process_identity.h"

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

// Keeps nothing of root's but the standard descriptors, and those lead nowhere: what the user's
// side could make this child do must not reach root's log file or pipes.
bool closeRootsDescriptors() {
  int nowhere = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (nowhere < 0) return false;
  for (int standard = 0; standard <= 2; ++standard) {
    if (::dup2(nowhere, standard) < 0) return false;
  }
  return ::close_range(3, UINT_MAX, 0) == 0;
}

// Becomes the user for good; false when any step fails, or when root could be had back (a
// process whose securebits keep its capabilities across the uid change).
bool becomeUser(uid_t uid, gid_t gid, const std::vector<gid_t>& groups) {
  return ::setgroups(groups.size(), groups.data()) == 0 && ::setresgid(gid, gid, gid) == 0 &&
         ::setresuid(uid, uid, uid) == 0 && (uid == 0 || ::setuid(0) != 0) && ::geteuid() == uid &&
         ::getegid() == gid;
}

}  // namespace

UserChild::UserChild(pid_t pid, UniqueFd pidfd, unsigned uid)
    : pid_(pid), pidfd_(std::move(pidfd)), uid_(uid), started_(std::chrono::steady_clock::now()) {}

UserChild::UserChild(UserChild&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidfd_(std::move(other.pidfd_)),
      uid_(other.uid_),
      started_(other.started_) {}

Result<UserChild> UserChild::start(unsigned uid, const std::function<int()>& work) {
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
    if (!closeRootsDescriptors() || !becomeUser(uid, gid, *groups)) ::_exit(kCannotBecomeUser);
    ::_exit(work() & 0xFF);
  }
  // The child is not reaped before finish, so its pid cannot pass to another process.
  return UserChild(child, openProcess(child), uid);
}

UserChild::~UserChild() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

Result<int> UserChild::finish(std::chrono::milliseconds within) {
  bool inTime = true;
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        started_ + within - std::chrono::steady_clock::now());
    pollfd ended{pidfd_.get(), POLLIN, 0};
    int ready = ::poll(&ended, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      inTime = false;
      ::kill(pid_, SIGKILL);
    }
    break;
  }
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) return Error{std::string("cannot wait: ") + std::strerror(errno)};
  }
  pid_ = -1;
  std::string who = "the child for uid " + std::to_string(uid_);
  if (!inTime)
    return Error{
        who + " did not finish within " + std::to_string(within.count() / 1000) + " seconds",
        ETIMEDOUT};
  if (!WIFEXITED(status)) return Error{who + " died"};
  if (WEXITSTATUS(status) == kCannotBecomeUser)
    return Error{"cannot become uid " + std::to_string(uid_)};
  return WEXITSTATUS(status);
}

}  // namespace shelvo::platform
