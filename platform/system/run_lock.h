#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "base/result.h"
#include "platform/env/unique_fd.h"

namespace shelvo::platform {

// An exclusive lock on a file that only root can open, held until this object (or the process)
// ends; the kernel drops it when the holder dies, however it dies. The holder writes who it is
// into the file, so a process that has to wait can say for whom.
class RunLock {
 public:
  // Opens the lock file, making it (0600) and its folder (0700) when missing. Both must be
  // root's: anyone who could open the file could hold the lock and stall every run, so a folder
  // or file of another owner, or a link, is refused and never used. Other modes, as an older
  // version left them, are set right.
  static Result<RunLock> open(const std::filesystem::path& file);

  // Takes the lock if it is free: false when another process holds it.
  Result<bool> tryLock();
  // Waits until the lock is free, then takes it.
  Status lock();
  // What the holder wrote about itself, but only while the process it names is alive and runs
  // shelvo: an older text may name a run that ended long ago.
  std::optional<std::string> holder() const;
  // Says who holds the lock now, for the next one to wait.
  Status writeHolder(const std::string& holder);

 private:
  RunLock(UniqueFd fd, std::filesystem::path file) : fd_(std::move(fd)), file_(std::move(file)) {}
  UniqueFd fd_;
  std::filesystem::path file_;
};

}  // namespace shelvo::platform
