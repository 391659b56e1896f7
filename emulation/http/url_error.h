#pragma once

#include <optional>
#include <string>

namespace shelvo::platform {

// Why a request was kept off the network (the platform's network-unavailable reasons).
enum class NetworkUnavailableReason { Cellular = 0, Expensive = 1, Constrained = 2 };

// URL-loading error codes, as the platform numbers them.
enum URLErrorCode : int {
  kURLErrorUnknown = -1,
  kURLErrorBadURL = -1000,
  kURLErrorTimedOut = -1001,
  kURLErrorUnsupportedURL = -1002,
  kURLErrorCannotFindHost = -1003,
  kURLErrorCannotConnectToHost = -1004,
  kURLErrorNetworkConnectionLost = -1005,
  kURLErrorHTTPTooManyRedirects = -1007,
  kURLErrorNotConnectedToInternet = -1009,
  kURLErrorSecureConnectionFailed = -1200,
  kURLErrorServerCertificateUntrusted = -1202,
};

// A failed request. Transport failures are URL-loading errors with the platform's code and
// English description; anything else is a plain error with only a description.
struct RequestError {
  bool isURLError = true;
  int code = kURLErrorUnknown;
  std::string localizedDescription;
  std::optional<NetworkUnavailableReason> networkUnavailableReason;
};

// The platform's English description of a URL-loading error; host names the server where the
// text mentions it.
std::string urlErrorDescription(int code, const std::string& host);

RequestError makeURLError(int code, const std::string& host,
                          std::optional<NetworkUnavailableReason> reason = std::nullopt);

}  // namespace shelvo::platform
