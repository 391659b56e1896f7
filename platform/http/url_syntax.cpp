#include "platform/http/url_syntax.h"

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

}  // namespace shelvo::platform
