#include "platform/env/files.h"

#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/env/unique_fd.h"

namespace shelvo::platform {
namespace {

Error errnoError(std::string_view what, const std::filesystem::path& path) {
  return Error{std::string(what) + " " + path.string() + ": " + std::strerror(errno), errno};
}

// A group's entry (its member list) larger than this is not looked at.
constexpr std::size_t kMaxGroupEntry = 1 << 20;

// Without the group, or the right to give it, the file stays the writer's alone.
bool giveGroup(int fd, const std::string& name) {
  auto id = groupNamed(name);
  return id && ::fchown(fd, static_cast<uid_t>(-1), *id) == 0;
}

FileOwnership ownershipFrom(const struct stat& info) {
  return FileOwnership{info.st_uid, (info.st_mode & S_IWGRP) != 0, (info.st_mode & S_IWOTH) != 0};
}

}  // namespace

Result<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes) {
  FileOwnership ignored;
  return readFile(path, maxBytes, ignored);
}

Result<FileOwnership> ownershipOf(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return errnoError("cannot inspect", path);
  return ownershipFrom(info);
}

Result<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes,
                             FileOwnership& ownership) {
  // Non-blocking, so a FIFO or a device in a folder another user writes never holds us up;
  // anything but a regular file is refused below.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return errnoError("cannot open", path);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return errnoError("cannot inspect", path);
  if (!S_ISREG(info.st_mode)) return Error{path.string() + " is not a regular file"};
  ownership = ownershipFrom(info);
  if (static_cast<std::size_t>(info.st_size) > maxBytes) {
    return Error{path.string() + " is too large"};
  }
  std::string bytes;
  bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t filled = 0;
  while (true) {
    if (filled == bytes.size()) bytes.resize(bytes.size() + 4096);
    ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errnoError("cannot read", path);
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
    if (filled > maxBytes) return Error{path.string() + " is too large"};
  }
  bytes.resize(filled);
  return bytes;
}

std::string accessDenial(const std::filesystem::path& path, const std::string& userName) {
  // The first folder this process may not pass through is in the way; else the file itself.
  std::filesystem::path blocker = path;
  std::filesystem::path walked;
  for (const auto& part : path.parent_path()) {
    walked /= part;
    if (::faccessat(AT_FDCWD, walked.c_str(), X_OK, AT_EACCESS) != 0) {
      blocker = walked;
      break;
    }
  }
  struct stat info {};
  if (::stat(blocker.c_str(), &info) == 0 && info.st_uid == 0) {
    const mode_t othersMayRead = S_ISDIR(info.st_mode) ? S_IXGRP | S_IXOTH : S_IRGRP | S_IROTH;
    if ((info.st_mode & othersMayRead) == 0) return blocker.string() + " is readable by root only";
  }
  return blocker.string() + " is not readable by user " + userName;
}

Status writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Error{std::string("cannot write: ") + std::strerror(errno), errno};
    if (n == 0) return Error{"cannot write: nothing was written", EIO};
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return success();
}

Status writeAllToPipe(int fd, std::string_view bytes) {
  sigset_t pipeSignal, previous, pending;
  ::sigemptyset(&pipeSignal);
  ::sigaddset(&pipeSignal, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  ::sigpending(&pending);
  bool pendingBefore = ::sigismember(&pending, SIGPIPE) == 1;
  auto written = writeAll(fd, bytes);
  // The signal this write raised is taken back, unless one was pending already.
  if (!written && written.error().systemError == EPIPE && !pendingBefore) {
    const timespec noWait{};
    ::sigtimedwait(&pipeSignal, nullptr, &noWait);
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return written;
}

std::optional<gid_t> groupNamed(const std::string& name) {
  // A group with many members needs more room than most: the buffer grows until it fits.
  std::vector<char> buffer(4096);
  while (true) {
    ::group entry{};
    ::group* found = nullptr;
    int error = ::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < kMaxGroupEntry) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr) return std::nullopt;
    return found->gr_gid;
  }
}

Status makeFolders(const std::filesystem::path& folder, unsigned mode) {
  // Most often only the last folder is missing, or none is.
  if (::mkdir(folder.c_str(), mode) == 0 || errno == EEXIST) return success();
  std::filesystem::path partial;
  for (const auto& part : folder) {
    partial /= part;
    if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) {
      return errnoError("cannot create folder", partial);
    }
  }
  return success();
}

Status replaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                             unsigned mode) {
  FileReplacement file{path, std::string(bytes), mode, {}};
  return std::move(replaceFilesAtomically({&file, 1}).front());
}

std::vector<Status> replaceFilesAtomically(std::span<const FileReplacement> files) {
  struct Temporary {
    UniqueFd fd;
    std::filesystem::path path;
  };
  std::vector<Status> outcomes(files.size(), success());
  std::vector<Temporary> temporaries(files.size());
  auto fail = [&](std::size_t i, std::string_view what) {
    outcomes[i] = errnoError(what, files[i].path);
    if (!temporaries[i].path.empty()) ::unlink(temporaries[i].path.c_str());
    temporaries[i].fd.reset();
  };
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string pattern = files[i].path.string() + ".XXXXXX";
    temporaries[i].fd = UniqueFd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!temporaries[i].fd) {
      outcomes[i] = errnoError("cannot create temporary file beside", files[i].path);
      continue;
    }
    temporaries[i].path = pattern;
    // The group before the rename: the file is never in its place without it.
    if (!files[i].group.empty()) giveGroup(temporaries[i].fd.get(), files[i].group);
    if (::fchmod(temporaries[i].fd.get(), files[i].mode) != 0) {
      fail(i, "cannot set mode of");
    } else if (!writeAll(temporaries[i].fd.get(), files[i].bytes)) {
      fail(i, "cannot write");
    } else {
      // Under way before the first sync waits, so that one wait for the disk serves them all.
      ::sync_file_range(temporaries[i].fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (temporaries[i].fd && ::fsync(temporaries[i].fd.get()) != 0) fail(i, "cannot sync");
  }
  std::vector<std::filesystem::path> folders;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!temporaries[i].fd) continue;
    if (::rename(temporaries[i].path.c_str(), files[i].path.c_str()) != 0) {
      fail(i, "cannot replace");
      continue;
    }
    auto folder = files[i].path.parent_path();
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
      folders.push_back(folder);
    }
  }
  for (const auto& folder : folders) {
    UniqueFd opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (opened) ::fsync(opened.get());
  }
  return outcomes;
}

}  // namespace shelvo::platform
