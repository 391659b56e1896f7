#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>

#include "base/result.h"
#include "platform/env/unique_fd.h"

namespace shelvo::platform {

// A child process that has become a user to do work there, such as talking to that user's own
// session bus, which the user controls. Before it drops to the user's uid, gid and supplementary
// groups, the child closes every descriptor but standard input, output and error (which it
// points at /dev/null); after, it checks that it cannot become root again. It only does what
// work does and then ends.
class UserChild {
 public:
  static Result<UserChild> start(unsigned uid, const std::function<int()>& work);
  UserChild(UserChild&& other) noexcept;
  UserChild& operator=(UserChild&& other) = delete;
  // Ends a child that has not been waited for.
  ~UserChild();

  // Waits until the child ends, within the given time of its start, and returns what work
  // returned (0 to 255). A child still running then is ended: the error's systemError is
  // ETIMEDOUT.
  Result<int> finish(std::chrono::milliseconds within);

 private:
  UserChild(pid_t pid, UniqueFd pidfd, unsigned uid);

  pid_t pid_ = -1;
  UniqueFd pidfd_;
  unsigned uid_ = 0;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace shelvo::platform
