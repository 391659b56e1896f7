#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"

namespace shelvo::platform {

// Who owns a file and who may write it, as fstat or stat saw it.
struct FileOwnership {
  unsigned owner = 0;
  bool writableByGroup = false;
  bool writableByOthers = false;
};

// One file to write whole: its place, its bytes, its mode and, unless empty, the group it is given
// before it takes its place (left as it is where the system has no such group, or the writer
// may not give it).
struct FileReplacement {
  std::filesystem::path path;
  std::string bytes;
  unsigned mode = 0644;
  std::string group;
};

// What the programs take from the operating system itself: the environment, files and folders,
// time and the time zone, waiting and the end of the process. Services built on it (HTTP, the
// buses, notifications, the schedule) are not part of it. PosixEnv is the real one; a test
// derives from EnvWrapper and overrides the one call it is about. Paths are
// std::filesystem::path, which is what platform::Path names elsewhere.
class Env {
 public:
  virtual ~Env() = default;

  // The process environment as it was at start.
  virtual std::optional<std::string> variable(const std::string& name) const = 0;

  // A regular file of at most maxBytes, refusing anything else without blocking on it.
  virtual Result<std::string> readFile(const std::filesystem::path& path,
                                       std::size_t maxBytes) const = 0;
  // The same, also telling who owns the file that was read (not whatever the path names later).
  virtual Result<std::string> readOwnedFile(const std::filesystem::path& path, std::size_t maxBytes,
                                            FileOwnership& ownership) const = 0;
  virtual Result<FileOwnership> ownershipOf(const std::filesystem::path& path) const = 0;
  // Replaces the file atomically (temporary file, fsync, rename).
  virtual Status replaceFile(const std::filesystem::path& path, std::string_view bytes,
                             unsigned mode) = 0;
  // The same for several files at once, sharing the waits for the disk; each file's outcome.
  virtual std::vector<Status> replaceFiles(std::span<const FileReplacement> files) = 0;
  virtual Status makeFolders(const std::filesystem::path& folder, unsigned mode) = 0;
  virtual bool exists(const std::filesystem::path& path) const = 0;
  virtual bool isFolder(const std::filesystem::path& path) const = 0;
  // The entries of a folder (none when it cannot be read).
  virtual std::vector<std::filesystem::path> listFolder(
      const std::filesystem::path& folder) const = 0;
  // The entries that are folders or links to folders. The real one reads the folder's entry
  // types and asks isFolder only about links and entries of unknown type.
  virtual std::vector<std::filesystem::path> listSubfolders(
      const std::filesystem::path& folder) const = 0;
  virtual Status removeFile(const std::filesystem::path& path) = 0;
  virtual Status renameFile(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  virtual Status setMode(const std::filesystem::path& path, unsigned mode) = 0;
  // Gives the file (never a link's target) to the named group; its owner stays.
  virtual Status setGroup(const std::filesystem::path& path, const std::string& group) = 0;
  virtual std::filesystem::path temporaryFolder() const = 0;

  virtual std::chrono::system_clock::time_point now() const = 0;
  // strftime's format in the local time zone. Seconds, not a time point: a stored time may lie
  // beyond what a time point holds.
  virtual std::string localTimeText(std::int64_t secondsSince1970, const char* format) const = 0;
  virtual void sleepFor(std::chrono::milliseconds duration) = 0;

  // Ends the process with status after flushing standard output.
  [[noreturn]] virtual void endProcess(int status) = 0;
  // From now on SIGTERM and SIGINT no longer end the process: each is handed to onStop on a
  // thread of its own. Call it before any other thread starts, as they inherit the mask.
  virtual void watchStopSignals(std::function<void(int signal)> onStop) = 0;
};

// Forwards every call to another Env; tests override what they are about.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(std::shared_ptr<Env> target) : target_(std::move(target)) {}
  Env& target() const { return *target_; }

  std::optional<std::string> variable(const std::string& name) const override {
    return target_->variable(name);
  }
  Result<std::string> readFile(const std::filesystem::path& path,
                               std::size_t maxBytes) const override {
    return target_->readFile(path, maxBytes);
  }
  Result<std::string> readOwnedFile(const std::filesystem::path& path, std::size_t maxBytes,
                                    FileOwnership& ownership) const override {
    return target_->readOwnedFile(path, maxBytes, ownership);
  }
  Result<FileOwnership> ownershipOf(const std::filesystem::path& path) const override {
    return target_->ownershipOf(path);
  }
  Status replaceFile(const std::filesystem::path& path, std::string_view bytes,
                     unsigned mode) override {
    return target_->replaceFile(path, bytes, mode);
  }
  std::vector<Status> replaceFiles(std::span<const FileReplacement> files) override {
    return target_->replaceFiles(files);
  }
  Status makeFolders(const std::filesystem::path& folder, unsigned mode) override {
    return target_->makeFolders(folder, mode);
  }
  bool exists(const std::filesystem::path& path) const override { return target_->exists(path); }
  bool isFolder(const std::filesystem::path& path) const override {
    return target_->isFolder(path);
  }
  std::vector<std::filesystem::path> listFolder(
      const std::filesystem::path& folder) const override {
    return target_->listFolder(folder);
  }
  std::vector<std::filesystem::path> listSubfolders(
      const std::filesystem::path& folder) const override {
    return target_->listSubfolders(folder);
  }
  Status removeFile(const std::filesystem::path& path) override {
    return target_->removeFile(path);
  }
  Status renameFile(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return target_->renameFile(from, to);
  }
  Status setMode(const std::filesystem::path& path, unsigned mode) override {
    return target_->setMode(path, mode);
  }
  Status setGroup(const std::filesystem::path& path, const std::string& group) override {
    return target_->setGroup(path, group);
  }
  std::filesystem::path temporaryFolder() const override { return target_->temporaryFolder(); }
  std::chrono::system_clock::time_point now() const override { return target_->now(); }
  std::string localTimeText(std::int64_t secondsSince1970, const char* format) const override {
    return target_->localTimeText(secondsSince1970, format);
  }
  void sleepFor(std::chrono::milliseconds duration) override { target_->sleepFor(duration); }
  [[noreturn]] void endProcess(int status) override {
    target_->endProcess(status);
    std::abort();  // a virtual call's [[noreturn]] is not seen through
  }
  void watchStopSignals(std::function<void(int signal)> onStop) override {
    target_->watchStopSignals(std::move(onStop));
  }

 private:
  std::shared_ptr<Env> target_;
};

}  // namespace shelvo::platform
