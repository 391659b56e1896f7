#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/path.h"
#include "base/result.h"
#include "platform/http/url_session.h"
#include "platform/notifications/notification_center.h"
#include "platform/service-management/daemon_service.h"
#include "platform/system/root_prefix.h"

namespace shelvo::platform {

// Everything the programs take from the operating system: the environment, files and folders,
// time and the time zone, waiting, the end of the process, HTTP sessions, and the services
// reached over D-Bus (notifications, service management). PosixEnv is the real one; a test derives
// from EnvWrapper and overrides the one call it is about.
class Env {
 public:
  virtual ~Env() = default;

  // The process environment as it was at start.
  virtual std::optional<std::string> variable(const std::string& name) const = 0;

  // A regular file of at most maxBytes, refusing anything else without blocking on it.
  virtual Result<std::string> readFile(const Path& path, std::size_t maxBytes) const = 0;
  // Replaces the file atomically (temporary file, fsync, rename).
  virtual Status replaceFile(const Path& path, std::string_view bytes, unsigned mode) = 0;
  virtual Status makeFolders(const Path& folder, unsigned mode) = 0;
  virtual bool exists(const Path& path) const = 0;
  virtual bool isFolder(const Path& path) const = 0;
  // The entries of a folder (none when it cannot be read).
  virtual std::vector<Path> listFolder(const Path& folder) const = 0;
  virtual Status removeFile(const Path& path) = 0;
  virtual Status renameFile(const Path& from, const Path& to) = 0;
  virtual Status setMode(const Path& path, unsigned mode) = 0;
  // Gives the file (never a link's target) to the named group; its owner stays.
  virtual Status setGroup(const Path& path, const std::string& group) = 0;
  virtual Path temporaryFolder() const = 0;

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

  // Runs the request on a worker thread; completion runs there.
  virtual void dataTask(const URLSessionConfiguration& configuration, URLRequest request,
                        std::function<void(DataTaskResult)> completion) = 0;
  virtual void downloadTask(const URLSessionConfiguration& configuration, URLRequest request,
                            std::function<void(DownloadTaskResult)> completion) = 0;
  // systemd's registration of a scheduled daemon, reached over this Env's buses.
  virtual std::unique_ptr<ScheduledService> scheduledService(const std::string& plistName,
                                                             const RootPrefix& root);
  virtual std::unique_ptr<NotificationPoster> notificationCenter() = 0;
  // The system bus (DBUS_SYSTEM_BUS_ADDRESS or the standard socket).
  virtual Result<BusConnection> systemBus() = 0;
};

// The real operating system. The environment is copied when it is made, at start.
class PosixEnv final : public Env {
 public:
  PosixEnv();

  std::optional<std::string> variable(const std::string& name) const override;
  Result<std::string> readFile(const Path& path, std::size_t maxBytes) const override;
  Status replaceFile(const Path& path, std::string_view bytes, unsigned mode) override;
  Status makeFolders(const Path& folder, unsigned mode) override;
  bool exists(const Path& path) const override;
  bool isFolder(const Path& path) const override;
  std::vector<Path> listFolder(const Path& folder) const override;
  Status removeFile(const Path& path) override;
  Status renameFile(const Path& from, const Path& to) override;
  Status setMode(const Path& path, unsigned mode) override;
  Status setGroup(const Path& path, const std::string& group) override;
  Path temporaryFolder() const override;
  std::chrono::system_clock::time_point now() const override;
  std::string localTimeText(std::int64_t secondsSince1970, const char* format) const override;
  void sleepFor(std::chrono::milliseconds duration) override;
  [[noreturn]] void endProcess(int status) override;
  void watchStopSignals(std::function<void(int signal)> onStop) override;
  void dataTask(const URLSessionConfiguration& configuration, URLRequest request,
                std::function<void(DataTaskResult)> completion) override;
  void downloadTask(const URLSessionConfiguration& configuration, URLRequest request,
                    std::function<void(DownloadTaskResult)> completion) override;
  std::unique_ptr<NotificationPoster> notificationCenter() override;
  Result<BusConnection> systemBus() override;

 private:
  std::map<std::string, std::string> variables_;
};

// Forwards every call to another Env; tests override what they are about.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(std::shared_ptr<Env> target) : target_(std::move(target)) {}
  Env& target() const { return *target_; }

  std::optional<std::string> variable(const std::string& name) const override {
    return target_->variable(name);
  }
  Result<std::string> readFile(const Path& path, std::size_t maxBytes) const override {
    return target_->readFile(path, maxBytes);
  }
  Status replaceFile(const Path& path, std::string_view bytes, unsigned mode) override {
    return target_->replaceFile(path, bytes, mode);
  }
  Status makeFolders(const Path& folder, unsigned mode) override {
    return target_->makeFolders(folder, mode);
  }
  bool exists(const Path& path) const override { return target_->exists(path); }
  bool isFolder(const Path& path) const override { return target_->isFolder(path); }
  std::vector<Path> listFolder(const Path& folder) const override {
    return target_->listFolder(folder);
  }
  Status removeFile(const Path& path) override { return target_->removeFile(path); }
  Status renameFile(const Path& from, const Path& to) override {
    return target_->renameFile(from, to);
  }
  Status setMode(const Path& path, unsigned mode) override { return target_->setMode(path, mode); }
  Status setGroup(const Path& path, const std::string& group) override {
    return target_->setGroup(path, group);
  }
  Path temporaryFolder() const override { return target_->temporaryFolder(); }
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
  void dataTask(const URLSessionConfiguration& configuration, URLRequest request,
                std::function<void(DataTaskResult)> completion) override {
    target_->dataTask(configuration, std::move(request), std::move(completion));
  }
  void downloadTask(const URLSessionConfiguration& configuration, URLRequest request,
                    std::function<void(DownloadTaskResult)> completion) override {
    target_->downloadTask(configuration, std::move(request), std::move(completion));
  }
  std::unique_ptr<NotificationPoster> notificationCenter() override {
    return target_->notificationCenter();
  }
  Result<BusConnection> systemBus() override { return target_->systemBus(); }

 private:
  std::shared_ptr<Env> target_;
};

}  // namespace shelvo::platform
