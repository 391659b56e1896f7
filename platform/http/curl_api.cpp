#include "platform/http/curl_api.h"

#include "platform/dynamic/library.h"

namespace shelvo::platform {
const CurlApi* CurlApi::get() {
  // Initialised on first use, from the thread that starts the first request, before any worker
  // thread of ours exists.
  static const CurlApi* const api = []() -> const CurlApi* {
    static const DynamicLibrary library("libcurl.so.4");
    static CurlApi loaded;
    bool ok = library.loaded() && library.resolve(loaded.globalInit, "curl_global_init") &&
              library.resolve(loaded.easyInit, "curl_easy_init") &&
              library.resolve(loaded.setopt, "curl_easy_setopt") &&
              library.resolve(loaded.perform, "curl_easy_perform") &&
              library.resolve(loaded.getinfo, "curl_easy_getinfo") &&
              library.resolve(loaded.cleanup, "curl_easy_cleanup") &&
              library.resolve(loaded.strerror, "curl_easy_strerror") &&
              library.resolve(loaded.slistAppend, "curl_slist_append") &&
              library.resolve(loaded.slistFreeAll, "curl_slist_free_all") &&
              library.resolve(loaded.urlNew, "curl_url") &&
              library.resolve(loaded.urlSet, "curl_url_set") &&
              library.resolve(loaded.urlCleanup, "curl_url_cleanup");
    if (!ok || loaded.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
    return &loaded;
  }();
  return api;
}

}  // namespace shelvo::platform
