#include "platform/system/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/env/files.h"

namespace shelvo::platform {
namespace {

constexpr unsigned kFolderMode = 0700;
constexpr unsigned kFileMode = 0600;

Error errnoError(const std::string& what) {
  return Error{what + ": " + std::strerror(errno), errno};
}

Error refusal(const std::filesystem::path& path, const std::string& why) {
  return Error{"refusing to use the run lock: " + path.string() + " " + why +
               "; remove it once you know who made it"};
}

// Root's, of the expected kind, set to mode; a refusal otherwise.
Status checkOwnedByRoot(int fd, const std::filesystem::path& path, bool folder, unsigned mode) {
  struct ::stat info {};
  if (::fstat(fd, &info) != 0) return errnoError("cannot inspect " + path.string());
  if (folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) {
    return refusal(path, folder ? "is not a folder" : "is not a regular file");
  }
  if (info.st_uid != 0) {
    return refusal(path, "is owned by user " + std::to_string(info.st_uid) + ", not root");
  }
  // A second name elsewhere would be a way to the file that this folder's mode does not guard.
  if (!folder && info.st_nlink != 1) return refusal(path, "has more than one name");
  if ((info.st_mode & 07777) != mode && ::fchmod(fd, mode) != 0) {
    return errnoError("cannot set the mode of " + path.string());
  }
  return success();
}

std::string contents(int fd) {
  std::string text(512, '\0');
  ssize_t n = ::pread(fd, text.data(), text.size(), 0);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  return text;
}

// Whether the process runs a program named shelvo (an upgrade may have replaced its file).
bool runsShelvo(long pid) {
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  char target[4096];
  ssize_t n = ::readlink(link.c_str(), target, sizeof(target) - 1);
  if (n <= 0) return false;
  std::string path(target, static_cast<std::size_t>(n));
  if (path.ends_with(" (deleted)")) path.resize(path.size() - 10);
  return std::filesystem::path(path).filename() == "shelvo";
}

}  // namespace

Result<RunLock> RunLock::open(const std::filesystem::path& file) {
  const std::filesystem::path folderPath = file.parent_path();
  if (auto made = makeFolders(folderPath.parent_path(), 0755); !made) return made.error();
  if (::mkdir(folderPath.c_str(), kFolderMode) != 0 && errno != EEXIST) {
    return errnoError("cannot create folder " + folderPath.string());
  }
  UniqueFd folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) {
    if (errno == ELOOP || errno == ENOTDIR) return refusal(folderPath, "is not a folder");
    return errnoError("cannot open " + folderPath.string());
  }
  if (auto checked = checkOwnedByRoot(folder.get(), folderPath, true, kFolderMode); !checked) {
    return checked.error();
  }
  // O_NONBLOCK: whatever was planted there never blocks the open.
  UniqueFd fd(::openat(folder.get(), file.filename().c_str(),
                       O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kFileMode));
  if (!fd) {
    if (errno == ELOOP) return refusal(file, "is a symbolic link");
    return errnoError("cannot open " + file.string());
  }
  if (auto checked = checkOwnedByRoot(fd.get(), file, false, kFileMode); !checked) {
    return checked.error();
  }
  return RunLock(std::move(fd), file);
}

Result<bool> RunLock::tryLock() {
  while (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return false;
    if (errno != EINTR) return errnoError("cannot lock " + file_.string());
  }
  return true;
}

Status RunLock::lock() {
  while (::flock(fd_.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return errnoError("cannot lock " + file_.string());
  }
  return success();
}

std::optional<std::string> RunLock::holder() const {
  // The holder writes who it is just after it takes the lock: a file still empty is looked at
  // again for a moment.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  std::string text = contents(fd_.get());
  while (text.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    text = contents(fd_.get());
  }
  constexpr std::string_view kPid = "pid ";
  if (!text.starts_with(kPid)) return std::nullopt;
  long pid = 0;
  const char* digits = text.data() + kPid.size();
  auto [end, error] = std::from_chars(digits, text.data() + text.size(), pid);
  if (error != std::errc() || end == digits || pid <= 0 || !runsShelvo(pid)) return std::nullopt;
  return text;
}

Status RunLock::writeHolder(const std::string& holder) {
  if (::ftruncate(fd_.get(), 0) != 0 || ::pwrite(fd_.get(), holder.data(), holder.size(), 0) < 0) {
    return errnoError("cannot write " + file_.string());
  }
  return success();
}

}  // namespace shelvo::platform
