#include "emulation/http/url_error.h"

namespace shelvo::platform {

std::string urlErrorDescription(int code, const std::string& host) {
  switch (code) {
    case kURLErrorBadURL:
      return "bad URL";
    case kURLErrorTimedOut:
      return "The request timed out.";
    case kURLErrorUnsupportedURL:
      return "unsupported URL";
    case kURLErrorCannotFindHost:
      return "A server with the specified hostname could not be found.";
    case kURLErrorCannotConnectToHost:
      return "Could not connect to the server.";
    case kURLErrorNetworkConnectionLost:
      return "The network connection was lost.";
    case kURLErrorHTTPTooManyRedirects:
      return "too many HTTP redirects";
    case kURLErrorNotConnectedToInternet:
      return "The Internet connection appears to be offline.";
    case kURLErrorSecureConnectionFailed:
      return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case kURLErrorServerCertificateUntrusted:
      return "The certificate for this server is invalid. You might be connecting to a server "
             "that is pretending to be \u201C" +
             host + "\u201D which could put your confidential information at risk.";
    default:
      return "unknown error";
  }
}

RequestError makeURLError(int code, const std::string& host,
                          std::optional<NetworkUnavailableReason> reason) {
  return RequestError{true, code, urlErrorDescription(code, host), reason};
}

}  // namespace shelvo::platform
