#include "platform/system/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace shelvo::platform {

Result<FileLock> FileLock::exclusive(const std::filesystem::path& lockFile, unsigned mode) {
  UniqueFd fd(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!fd) return Error{"cannot open lock file " + lockFile.string()};
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return Error{"cannot lock " + lockFile.string()};
  }
  return FileLock(std::move(fd));
}

}  // namespace shelvo::platform
