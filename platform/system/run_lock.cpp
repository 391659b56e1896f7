#include "platform/system/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/system/files.h"

namespace shelvo::platform {
namespace {

Error errnoError(const std::string& what) {
  return Error{what + ": " + std::strerror(errno), errno};
}

std::string contents(int fd) {
  std::string text(512, '\0');
  ssize_t n = ::pread(fd, text.data(), text.size(), 0);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  return text;
}

}  // namespace

Result<RunLock> RunLock::acquire(const std::filesystem::path& file, const std::string& holder,
                                 const std::function<void(const std::string&)>& waiting) {
  if (auto made = makeFolders(file.parent_path(), 0755); !made) return made.error();
  UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd) return errnoError("cannot open " + file.string());
  // The holder writes who it is just after it takes the lock: a waiter that finds the file
  // still empty looks again for a moment before it says whom it waits for.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return errnoError("cannot lock " + file.string());
    std::string holderText = contents(fd.get());
    if (holderText.empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    waiting(holderText);
    while (::flock(fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return errnoError("cannot lock " + file.string());
    }
    break;
  }
  // Who holds it now, for the next one to wait.
  if (::ftruncate(fd.get(), 0) != 0 || ::pwrite(fd.get(), holder.data(), holder.size(), 0) < 0) {
    return errnoError("cannot write " + file.string());
  }
  return RunLock(std::move(fd));
}

}  // namespace shelvo::platform
