#pragma once

#include <filesystem>

#include "base/result.h"
#include "platform/env/unique_fd.h"

namespace shelvo::platform {

// An exclusive lock for a short read-modify-write of a file that is replaced by rename. It is
// taken on a lock file beside that file: rename replaces the file's inode, so a lock on the file
// itself would not exclude the next writer. Held until this object ends.
class FileLock {
 public:
  // Waits for the lock on lockFile, creating the file with mode when it is missing.
  static Result<FileLock> exclusive(const std::filesystem::path& lockFile, unsigned mode);

 private:
  explicit FileLock(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;
};

}  // namespace shelvo::platform
