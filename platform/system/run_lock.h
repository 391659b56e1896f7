#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "platform/result.h"
#include "platform/system/unique_fd.h"

namespace shelvo::platform {

// An exclusive lock on a file, held until this object (or the process) ends; the kernel drops
// it when the holder dies, however it dies. The holder writes who it is into the file, so a
// process that has to wait can say for whom.
class RunLock {
 public:
  // Takes the lock, waiting for the current holder when there is one; waiting is called first
  // with what the holder wrote about itself.
  static Result<RunLock> acquire(const std::filesystem::path& file, const std::string& holder,
                                 const std::function<void(const std::string&)>& waiting);

 private:
  explicit RunLock(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;
};

}  // namespace shelvo::platform
