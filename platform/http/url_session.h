#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "emulation/http/url_error.h"
#include "platform/http/network_policy.h"

namespace shelvo::platform {

class Env;

struct URLRequest {
  std::string url;
  std::string method = "GET";
  std::vector<std::pair<std::string, std::string>> headers;
  // An idle timeout: the request fails when no data moves for this long, not after a total.
  std::chrono::seconds timeoutInterval{60};
  bool allowsConstrainedNetworkAccess = true;
  bool allowsExpensiveNetworkAccess = true;
};

struct HTTPResponse {
  long statusCode = 0;
};

// What a data task hands to its completion: body and response on success, the error otherwise.
struct DataTaskResult {
  std::optional<std::string> data;
  std::optional<HTTPResponse> response;
  std::optional<RequestError> error;
};

// What a download task hands to its completion: the file holding the body, which is removed
// when the completion returns unless the completion moved it away.
struct DownloadTaskResult {
  std::optional<std::filesystem::path> location;
  std::optional<HTTPResponse> response;
  std::optional<RequestError> error;
};

struct URLSessionConfiguration {
  // PEM file of the authorities trusted for servers, instead of the system store.
  std::optional<std::string> caFile;
  // Replaces every request's timeout interval.
  std::optional<std::chrono::seconds> timeoutOverride;
  std::shared_ptr<NetworkPolicy> networkPolicy;
  // Where download tasks store bodies; the services put the Env's temporary folder here.
  std::filesystem::path downloadFolder = "/tmp";

  // SHELVO_CA_FILE; the NetworkManager policy.
  static URLSessionConfiguration fromEnvironment(const Env& env);
};

// HTTPS requests with libcurl, https only, certificate verification always on. libcurl is
// loaded when the first task starts.
class URLSession {
 public:
  explicit URLSession(URLSessionConfiguration configuration);

  // Starts the request on a worker thread of its own and returns at once; completion runs on
  // that thread when the request has ended.
  void dataTask(URLRequest request, std::function<void(DataTaskResult)> completion) const;

  // The same, performed on the calling thread.
  DataTaskResult perform(const URLRequest& request) const;

  // Downloads into a temporary file on a worker thread of its own; completion runs there.
  void downloadTask(URLRequest request, std::function<void(DownloadTaskResult)> completion) const;

 private:
  struct Transfer {
    std::optional<HTTPResponse> response;
    std::optional<RequestError> error;
  };
  using BodyWriter = std::function<bool(const char* bytes, std::size_t length)>;
  Transfer transfer(const URLRequest& request, const BodyWriter& writeBody) const;
  DownloadTaskResult download(const URLRequest& request) const;

  URLSessionConfiguration configuration_;
};

}  // namespace shelvo::platform
