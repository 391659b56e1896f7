#include "platform/env/posix_env.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>
#include <thread>

#include "base/path.h"
#include "platform/env/files.h"
#include "platform/env/process_exit.h"
#include "platform/env/stop_signals.h"

extern char** environ;

namespace shelvo::platform {
namespace {

Status failed(const std::string& what, const Path& path) {
  int error = errno;
  return Error{what + " " + path.string() + ": " + std::strerror(error), error};
}

}  // namespace

PosixEnv::PosixEnv() {
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    auto equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    variables_.emplace(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
  }
}

std::optional<std::string> PosixEnv::variable(const std::string& name) const {
  auto found = variables_.find(name);
  if (found == variables_.end()) return std::nullopt;
  return found->second;
}

Result<std::string> PosixEnv::readFile(const Path& path, std::size_t maxBytes) const {
  return platform::readFile(path, maxBytes);
}

Result<std::string> PosixEnv::readOwnedFile(const Path& path, std::size_t maxBytes,
                                            FileOwnership& ownership) const {
  return platform::readFile(path, maxBytes, ownership);
}

Result<FileOwnership> PosixEnv::ownershipOf(const Path& path) const {
  return platform::ownershipOf(path);
}

Status PosixEnv::replaceFile(const Path& path, std::string_view bytes, unsigned mode) {
  return replaceFileAtomically(path, bytes, mode);
}

std::vector<Status> PosixEnv::replaceFiles(std::span<const FileReplacement> files) {
  return replaceFilesAtomically(files);
}

Status PosixEnv::makeFolders(const Path& folder, unsigned mode) {
  return platform::makeFolders(folder, mode);
}

bool PosixEnv::exists(const Path& path) const {
  struct ::stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool PosixEnv::isFolder(const Path& path) const {
  struct ::stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {

// Each entry of a folder that keep says to keep, given its path and its type as the folder's
// entry tells it (DT_UNKNOWN where the filesystem does not say).
template <typename Keep>
std::vector<Path> entriesOf(const Path& folder, Keep keep) {
  // readdir itself: the library's directory iterator took twice as long per entry, and a cold
  // process pays for its code besides.
  struct CloseFolder {
    void operator()(DIR* opened) const { ::closedir(opened); }
  };
  std::vector<Path> entries;
  std::unique_ptr<DIR, CloseFolder> opened(::opendir(folder.c_str()));
  if (!opened) return entries;
  std::string prefix = folder.native();
  if (!prefix.ends_with('/')) prefix += '/';
  while (const ::dirent* entry = ::readdir(opened.get())) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    Path path(prefix + entry->d_name);
    if (keep(path, entry->d_type)) entries.push_back(std::move(path));
  }
  return entries;
}

}  // namespace

std::vector<Path> PosixEnv::listFolder(const Path& folder) const {
  return entriesOf(folder, [](const Path&, unsigned char) { return true; });
}

std::vector<Path> PosixEnv::listSubfolders(const Path& folder) const {
  // The entry's type spares a lookup of each; a link, or a type the filesystem does not give,
  // is looked up as isFolder would.
  return entriesOf(folder, [this](const Path& path, unsigned char type) {
    if (type == DT_DIR) return true;
    return (type == DT_LNK || type == DT_UNKNOWN) && isFolder(path);
  });
}

Status PosixEnv::removeFile(const Path& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return failed("cannot remove", path);
  return success();
}

Status PosixEnv::renameFile(const Path& from, const Path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return failed("cannot move", from);
  return success();
}

Status PosixEnv::setMode(const Path& path, unsigned mode) {
  if (::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0) return failed("cannot change", path);
  return success();
}

Status PosixEnv::setGroup(const Path& path, const std::string& group) {
  auto id = groupNamed(group);
  if (!id) return Error{"no group named " + group};
  if (::lchown(path.c_str(), static_cast<uid_t>(-1), *id) != 0) {
    return failed("cannot change the group of", path);
  }
  return success();
}

Path PosixEnv::temporaryFolder() const {
  auto configured = variable("TMPDIR");
  return configured && !configured->empty() ? Path(*configured) : Path("/tmp");
}

std::chrono::system_clock::time_point PosixEnv::now() const {
  return std::chrono::system_clock::now();
}

std::string PosixEnv::localTimeText(std::int64_t secondsSince1970, const char* format) const {
  auto seconds = static_cast<std::time_t>(secondsSince1970);
  std::tm local{};
  if (::localtime_r(&seconds, &local) == nullptr) return std::to_string(seconds);
  char text[128];
  std::size_t length = std::strftime(text, sizeof text, format, &local);
  return std::string(text, length);
}

void PosixEnv::sleepFor(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

void PosixEnv::endProcess(int status) {
  platform::endProcess(status);
}

void PosixEnv::watchStopSignals(std::function<void(int signal)> onStop) {
  platform::watchStopSignals(std::move(onStop));
}

}  // namespace shelvo::platform
