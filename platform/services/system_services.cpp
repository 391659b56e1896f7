#include "platform/services/services.h"

namespace shelvo::platform {

std::unique_ptr<ScheduledService> Services::scheduledService(const std::string& plistName,
                                                             const RootPrefix& root) {
  // These services, whichever derived ones they are, so that a wrapper's buses are the ones used.
  return std::make_unique<DaemonService>(plistName, root, [this] { return systemBus(); });
}

void SystemServices::dataTask(const URLSessionConfiguration& configuration, URLRequest request,
                              std::function<void(DataTaskResult)> completion) {
  URLSession(configuration).dataTask(std::move(request), std::move(completion));
}

void SystemServices::downloadTask(const URLSessionConfiguration& configuration, URLRequest request,
                                  std::function<void(DownloadTaskResult)> completion) {
  URLSessionConfiguration inTemporaryFolder = configuration;
  inTemporaryFolder.downloadFolder = env_.temporaryFolder();
  URLSession(inTemporaryFolder).downloadTask(std::move(request), std::move(completion));
}

std::unique_ptr<NotificationPoster> SystemServices::notificationCenter() {
  return std::make_unique<NotificationCenter>();
}

Result<BusConnection> SystemServices::systemBus() {
  return openSystemBus();
}

}  // namespace shelvo::platform
