#include "platform/env/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/env/unique_fd.h"

namespace shelvo::platform {
namespace {

Error errnoError(std::string_view what, const std::filesystem::path& path) {
  return Error{std::string(what) + " " + path.string() + ": " + std::strerror(errno), errno};
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

Status makeFolders(const std::filesystem::path& folder, unsigned mode) {
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
  std::string pattern = path.string() + ".XXXXXX";
  UniqueFd temp(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!temp) return errnoError("cannot create temporary file beside", path);
  const std::filesystem::path tempPath(pattern);
  auto fail = [&](std::string_view what) {
    Error error = errnoError(what, path);
    ::unlink(tempPath.c_str());
    return error;
  };
  if (::fchmod(temp.get(), mode) != 0) return fail("cannot set mode of");
  if (!writeAll(temp.get(), bytes)) return fail("cannot write");
  if (::fsync(temp.get()) != 0) return fail("cannot sync");
  if (::rename(tempPath.c_str(), path.c_str()) != 0) return fail("cannot replace");
  UniqueFd folder(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) ::fsync(folder.get());
  return success();
}

}  // namespace shelvo::platform
