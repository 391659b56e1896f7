#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "base/result.h"
#include "platform/dbus/bus_connection.h"
#include "platform/env/env.h"
#include "platform/http/url_session.h"
#include "platform/notifications/notification_center.h"
#include "platform/service-management/daemon_service.h"
#include "platform/system/root_prefix.h"

namespace shelvo::platform {

// The services the agent reaches through the operating system rather than takes from it: data
// and download tasks, the system bus, notifications and the schedule. SystemServices is the real
// one; a test derives from ServicesWrapper and overrides the one call it is about.
class Services {
 public:
  virtual ~Services() = default;

  // Runs the request on a worker thread; completion runs there.
  virtual void dataTask(const URLSessionConfiguration& configuration, URLRequest request,
                        std::function<void(DataTaskResult)> completion) = 0;
  // A data task whose caller waits for it: returns once the request has ended. This one waits on
  // dataTask, so a test's dataTask answers it too.
  virtual DataTaskResult awaitDataTask(const URLSessionConfiguration& configuration,
                                       URLRequest request);
  virtual void downloadTask(const URLSessionConfiguration& configuration, URLRequest request,
                            std::function<void(DownloadTaskResult)> completion) = 0;
  // Readies what requests need on a thread of its own, so that other start-up work overlaps it;
  // the returned thread is joined when it goes. Nothing to ready by default.
  virtual std::jthread prepareRequests() { return {}; }
  // systemd's registration of a scheduled daemon, reached over these services' buses.
  virtual std::unique_ptr<ScheduledService> scheduledService(const std::string& plistName,
                                                             const RootPrefix& root);
  virtual std::unique_ptr<NotificationPoster> notificationCenter() = 0;
  // The system bus (DBUS_SYSTEM_BUS_ADDRESS or the standard socket).
  virtual Result<BusConnection> systemBus() = 0;
};

// The real services, over the real operating system.
class SystemServices final : public Services {
 public:
  explicit SystemServices(Env& env) : env_(env) {}

  void dataTask(const URLSessionConfiguration& configuration, URLRequest request,
                std::function<void(DataTaskResult)> completion) override;
  // On the calling thread: on a busy machine a worker would wait for a time slice to start, and
  // the caller for another to go on.
  DataTaskResult awaitDataTask(const URLSessionConfiguration& configuration,
                               URLRequest request) override;
  void downloadTask(const URLSessionConfiguration& configuration, URLRequest request,
                    std::function<void(DownloadTaskResult)> completion) override;
  // Loads and initialises libcurl, which takes milliseconds.
  std::jthread prepareRequests() override;
  std::unique_ptr<NotificationPoster> notificationCenter() override;
  Result<BusConnection> systemBus() override;

 private:
  Env& env_;
};

// Forwards every call to other services; tests override what they are about. The schedule is
// not forwarded: it is built over this wrapper's own bus, so overriding systemBus reaches it.
// Nor is awaitDataTask: it waits on this wrapper's dataTask, so overriding dataTask reaches it.
class ServicesWrapper : public Services {
 public:
  explicit ServicesWrapper(std::shared_ptr<Services> target) : target_(std::move(target)) {}

  void dataTask(const URLSessionConfiguration& configuration, URLRequest request,
                std::function<void(DataTaskResult)> completion) override {
    target_->dataTask(configuration, std::move(request), std::move(completion));
  }
  void downloadTask(const URLSessionConfiguration& configuration, URLRequest request,
                    std::function<void(DownloadTaskResult)> completion) override {
    target_->downloadTask(configuration, std::move(request), std::move(completion));
  }
  std::jthread prepareRequests() override { return target_->prepareRequests(); }
  std::unique_ptr<NotificationPoster> notificationCenter() override {
    return target_->notificationCenter();
  }
  Result<BusConnection> systemBus() override { return target_->systemBus(); }

 private:
  std::shared_ptr<Services> target_;
};

}  // namespace shelvo::platform
