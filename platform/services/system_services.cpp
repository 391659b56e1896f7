#include "platform/services/services.h"

#include <semaphore>
#include <system_error>

#include "platform/http/curl_api.h"

namespace shelvo::platform {

std::unique_ptr<ScheduledService> Services::scheduledService(const std::string& plistName,
                                                             const RootPrefix& root) {
  // These services, whichever derived ones they are, so that a wrapper's buses are the ones used.
  return std::make_unique<DaemonService>(plistName, root, [this] { return systemBus(); });
}

DataTaskResult Services::awaitDataTask(const URLSessionConfiguration& configuration,
                                       URLRequest request) {
  struct Arrival {
    DataTaskResult result;
    std::binary_semaphore done{0};
  };
  // Shared: a caller that ends the process while waiting leaves the completion something to fill.
  auto arrival = std::make_shared<Arrival>();
  dataTask(configuration, std::move(request), [arrival](DataTaskResult result) {
    arrival->result = std::move(result);
    arrival->done.release();
  });
  arrival->done.acquire();
  return std::move(arrival->result);
}

void SystemServices::dataTask(const URLSessionConfiguration& configuration, URLRequest request,
                              std::function<void(DataTaskResult)> completion) {
  URLSession(configuration).dataTask(std::move(request), std::move(completion));
}

DataTaskResult SystemServices::awaitDataTask(const URLSessionConfiguration& configuration,
                                             URLRequest request) {
  return URLSession(configuration).perform(request);
}

void SystemServices::downloadTask(const URLSessionConfiguration& configuration, URLRequest request,
                                  std::function<void(DownloadTaskResult)> completion) {
  URLSessionConfiguration inTemporaryFolder = configuration;
  inTemporaryFolder.downloadFolder = env_.temporaryFolder();
  URLSession(inTemporaryFolder).downloadTask(std::move(request), std::move(completion));
}

std::jthread SystemServices::prepareRequests() {
  try {
    return std::jthread([] { CurlApi::get(); });
  } catch (const std::system_error&) {
    return {};  // no thread to spare: the first request loads the library itself
  }
}

std::unique_ptr<NotificationPoster> SystemServices::notificationCenter() {
  return std::make_unique<NotificationCenter>();
}

Result<BusConnection> SystemServices::systemBus() {
  return openSystemBus();
}

}  // namespace shelvo::platform
