#include "platform/http/curl_api.h"

#include "platform/dynamic/library.h"

namespace shelvo::platform {
const CurlApi* CurlApi::get() {
  // Initialised once, on first use: by the thread that loads it while the run's zsh start, or by
  // the first request. A second caller waits here until the first is done, and no other thread
  // uses libcurl or OpenSSL meanwhile.
  static const CurlApi* const api = []() -> const CurlApi* {
    const CurlApi* loaded =
        loadTable<CurlApi>("libcurl.so.4", [](const DynamicLibrary& library, CurlApi& table) {
          return library.resolve(table.globalInit, "curl_global_init") &&
                 library.resolve(table.easyInit, "curl_easy_init") &&
                 library.resolve(table.setopt, "curl_easy_setopt") &&
                 library.resolve(table.perform, "curl_easy_perform") &&
                 library.resolve(table.getinfo, "curl_easy_getinfo") &&
                 library.resolve(table.cleanup, "curl_easy_cleanup") &&
                 library.resolve(table.strerror, "curl_easy_strerror") &&
                 library.resolve(table.slistAppend, "curl_slist_append") &&
                 library.resolve(table.slistFreeAll, "curl_slist_free_all") &&
                 library.resolve(table.urlNew, "curl_url") &&
                 library.resolve(table.urlSet, "curl_url_set") &&
                 library.resolve(table.urlCleanup, "curl_url_cleanup");
        });
    if (loaded == nullptr || loaded->globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
    return loaded;
  }();
  return api;
}

}  // namespace shelvo::platform
