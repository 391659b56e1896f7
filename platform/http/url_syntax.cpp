#include "platform/http/url_syntax.h"

#include <algorithm>
#include <memory>

#include "platform/http/curl_api.h"

namespace shelvo::platform {

bool parsesAsURL(const std::string& text) {
  const CurlApi* api = CurlApi::get();
  if (api == nullptr) return false;
  auto cleanup = [api](CURLU* url) { api->urlCleanup(url); };
  std::unique_ptr<CURLU, decltype(cleanup)> url(api->urlNew(), cleanup);
  return url && api->urlSet(url.get(), CURLUPART_URL, text.c_str(), 0) == CURLUE_OK;
}

URLParts splitURL(std::string_view url) {
  URLParts parts;
  url = url.substr(0, url.find_first_of("?#"));
  if (auto scheme = url.find("://"); scheme != std::string_view::npos) {
    parts.scheme = url.substr(0, scheme);
    url.remove_prefix(scheme + 3);
    auto pathStart = std::min(url.size(), url.find('/'));
    parts.authority = url.substr(0, pathStart);
    url.remove_prefix(pathStart);
  }
  parts.path = url;
  parts.hostAndPort = parts.authority;
  if (auto at = parts.hostAndPort.rfind('@'); at != std::string_view::npos)
    parts.hostAndPort.remove_prefix(at + 1);
  std::string_view host = parts.hostAndPort;
  if (!host.empty() && host.front() == '[') {
    parts.host = host.substr(1, host.find(']') - 1);
  } else {
    parts.host = host.substr(0, host.find(':'));
  }
  return parts;
}

}  // namespace shelvo::platform
