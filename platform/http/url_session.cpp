#include "platform/http/url_session.h"

#include "platform/env/env.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "platform/env/files.h"
#include "platform/env/unique_fd.h"
#include "platform/http/curl_api.h"
#include "platform/http/url_syntax.h"

namespace shelvo::platform {
namespace {

constexpr long kMaxRedirects = 16;
constexpr std::size_t kMaxBody = 256 * 1024 * 1024;

struct EasyCleanup {
  const CurlApi* api;
  void operator()(CURL* handle) const { api->cleanup(handle); }
};
struct SlistCleanup {
  const CurlApi* api;
  void operator()(curl_slist* list) const { api->slistFreeAll(list); }
};

// The host named by an https URL, for error texts.
std::string hostOf(const std::string& url) {
  return std::string(splitURL(url).host);
}

int urlErrorCodeFor(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return kURLErrorTimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kURLErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT:
      return kURLErrorCannotConnectToHost;
    case CURLE_PEER_FAILED_VERIFICATION:
      return kURLErrorServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
      return kURLErrorSecureConnectionFailed;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return kURLErrorNetworkConnectionLost;
    case CURLE_TOO_MANY_REDIRECTS:
      return kURLErrorHTTPTooManyRedirects;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kURLErrorUnsupportedURL;
    case CURLE_URL_MALFORMAT:
      return kURLErrorBadURL;
    default:
      return kURLErrorUnknown;
  }
}

// The request timeout is an idle timeout: the transfer ends only when no byte has moved either
// way for the whole interval, however slowly the bytes come.
struct IdleWatch {
  std::chrono::steady_clock::duration limit;
  std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();
  curl_off_t received = 0;
  curl_off_t sent = 0;
  bool expired = false;
};

int watchIdle(void* userdata, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
  auto& watch = *static_cast<IdleWatch*>(userdata);
  auto now = std::chrono::steady_clock::now();
  if (received != watch.received || sent != watch.sent) {
    watch.received = received;
    watch.sent = sent;
    watch.lastProgress = now;
    return 0;
  }
  watch.expired = now - watch.lastProgress >= watch.limit;
  return watch.expired ? 1 : 0;
}

// A header value may not end its line early: CR, LF or NUL would let it add headers of its own.
bool isSafeHeaderLine(const std::string& line) {
  return line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

size_t writeBody(char* bytes, size_t size, size_t count, void* userdata) {
  const auto& writer = *static_cast<const std::function<bool(const char*, std::size_t)>*>(userdata);
  size_t length = size * count;
  return writer(bytes, length) ? length : 0;
}

}  // namespace

URLSessionConfiguration URLSessionConfiguration::fromEnvironment(const Env& env) {
  URLSessionConfiguration configuration;
  if (auto ca = env.variable("SHELVO_CA_FILE"); ca && !ca->empty()) configuration.caFile = *ca;
  configuration.networkPolicy = std::make_shared<NetworkManagerPolicy>();
  return configuration;
}

URLSession::URLSession(URLSessionConfiguration configuration)
    : configuration_(std::move(configuration)) {}

void URLSession::dataTask(URLRequest request,
                          std::function<void(DataTaskResult)> completion) const {
  CurlApi::get();  // load and initialise libcurl before the worker thread exists
  std::thread([session = *this, request = std::move(request), completion = std::move(completion)] {
    completion(session.perform(request));
  }).detach();
}

DataTaskResult URLSession::perform(const URLRequest& request) const {
  std::string body;
  Transfer done = transfer(request, [&body](const char* bytes, std::size_t length) {
    if (body.size() + length > kMaxBody) return false;  // refuse, rather than exhaust memory
    body.append(bytes, length);
    return true;
  });
  DataTaskResult result{std::nullopt, done.response, done.error};
  if (!done.error) result.data = std::move(body);
  return result;
}

void URLSession::downloadTask(URLRequest request,
                              std::function<void(DownloadTaskResult)> completion) const {
  CurlApi::get();  // load and initialise libcurl before the worker thread exists
  std::thread([session = *this, request = std::move(request), completion = std::move(completion)] {
    DownloadTaskResult result = session.download(request);
    std::optional<std::filesystem::path> location = result.location;
    completion(std::move(result));
    if (location) ::unlink(location->c_str());
  }).detach();
}

DownloadTaskResult URLSession::download(const URLRequest& request) const {
  std::string pattern = (configuration_.downloadFolder / "shelvo-download-XXXXXX").string();
  UniqueFd file(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!file) {
    return {std::nullopt, std::nullopt,
            RequestError{false, 0, "The download could not be stored: no temporary file.", {}}};
  }
  std::size_t written = 0;
  Transfer done = transfer(request, [&](const char* bytes, std::size_t length) {
    written += length;
    return written <= kMaxBody && writeAll(file.get(), std::string_view(bytes, length)).ok();
  });
  if (done.error) {
    ::unlink(pattern.c_str());
    return {std::nullopt, done.response, done.error};
  }
  return {std::filesystem::path(pattern), done.response, std::nullopt};
}

URLSession::Transfer URLSession::transfer(const URLRequest& request,
                                          const BodyWriter& writer) const {
  Transfer result;
  const std::string host = hostOf(request.url);
  // The network's cost matters only to a request that may not use every network.
  bool restricted =
      !request.allowsConstrainedNetworkAccess || !request.allowsExpensiveNetworkAccess;
  if (configuration_.networkPolicy && restricted) {
    NetworkCost cost = configuration_.networkPolicy->currentNetworkCost();
    if (cost == NetworkCost::Constrained && !request.allowsConstrainedNetworkAccess) {
      result.error = makeURLError(kURLErrorNotConnectedToInternet, host,
                                  NetworkUnavailableReason::Constrained);
      return result;
    }
    if (cost == NetworkCost::Expensive && !request.allowsExpensiveNetworkAccess) {
      result.error =
          makeURLError(kURLErrorNotConnectedToInternet, host, NetworkUnavailableReason::Expensive);
      return result;
    }
  }
  const CurlApi* api = CurlApi::get();
  if (api == nullptr) {
    result.error = RequestError{false, 0, "The HTTP library libcurl could not be loaded.", {}};
    return result;
  }
  std::unique_ptr<CURL, EasyCleanup> handle(api->easyInit(), EasyCleanup{api});
  if (!handle) {
    result.error = makeURLError(kURLErrorUnknown, host);
    return result;
  }
  std::unique_ptr<curl_slist, SlistCleanup> headers(nullptr, SlistCleanup{api});
  for (const auto& [name, value] : request.headers) {
    std::string line = name + ": " + value;
    if (!isSafeHeaderLine(line)) {
      result.error = RequestError{
          false, 0, "A request header holds a line break or NUL; nothing was sent.", {}};
      return result;
    }
    curl_slist* extended = api->slistAppend(headers.get(), line.c_str());
    if (extended == nullptr) {
      result.error = makeURLError(kURLErrorUnknown, host);
      return result;
    }
    headers.release();
    headers.reset(extended);
  }
  auto idle = configuration_.timeoutOverride.value_or(request.timeoutInterval);
  IdleWatch watch{idle};
  CURL* curl = handle.get();
  // Every option matters to what is sent where; one libcurl refuses (an old version without
  // CURLOPT_PROTOCOLS_STR, say) means the request is not sent at all.
  bool prepared =
      api->setopt(curl, CURLOPT_URL, request.url.c_str()) == CURLE_OK &&
      // The path goes out as built: "/apps/../x" stays, as the service expects.
      api->setopt(curl, CURLOPT_PATH_AS_IS, 1L) == CURLE_OK &&
      api->setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str()) == CURLE_OK &&
      api->setopt(curl, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
      api->setopt(curl, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
      api->setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https") == CURLE_OK &&
      api->setopt(curl, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
      api->setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
      api->setopt(curl, CURLOPT_UNRESTRICTED_AUTH, 0L) == CURLE_OK &&  // no credential elsewhere
      api->setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
      api->setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
      (!configuration_.caFile ||
       api->setopt(curl, CURLOPT_CAINFO, configuration_.caFile->c_str()) == CURLE_OK) &&
      api->setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(idle.count())) == CURLE_OK &&
      api->setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
      api->setopt(curl, CURLOPT_XFERINFOFUNCTION, watchIdle) == CURLE_OK &&
      api->setopt(curl, CURLOPT_XFERINFODATA, &watch) == CURLE_OK &&
      api->setopt(curl, CURLOPT_ACCEPT_ENCODING, "") == CURLE_OK &&
      api->setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
      api->setopt(curl, CURLOPT_WRITEFUNCTION, writeBody) == CURLE_OK &&
      api->setopt(curl, CURLOPT_WRITEDATA, &writer) == CURLE_OK;
  if (!prepared) {
    result.error = RequestError{
        false, 0, "The HTTP library refused a setting the request needs; nothing was sent.", {}};
    return result;
  }

  CURLcode code = api->perform(curl);
  if (code == CURLE_ABORTED_BY_CALLBACK && watch.expired) code = CURLE_OPERATION_TIMEDOUT;
  if (code != CURLE_OK) {
    result.error = makeURLError(urlErrorCodeFor(code), host);
    return result;
  }
  long status = 0;
  api->getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if (status != 0) result.response = HTTPResponse{status};
  return result;
}

}  // namespace shelvo::platform
