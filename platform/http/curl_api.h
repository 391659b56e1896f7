#pragma once

#include <curl/curl.h>

namespace shelvo::platform {

// The libcurl calls the programs use, resolved when the first request starts: linking libcurl
// and its dependencies costs several milliseconds at every start of the agent.
struct CurlApi {
  decltype(&::curl_global_init) globalInit = nullptr;
  decltype(&::curl_easy_init) easyInit = nullptr;
  decltype(&::curl_easy_setopt) setopt = nullptr;
  decltype(&::curl_easy_perform) perform = nullptr;
  decltype(&::curl_easy_getinfo) getinfo = nullptr;
  decltype(&::curl_easy_cleanup) cleanup = nullptr;
  decltype(&::curl_easy_strerror) strerror = nullptr;
  decltype(&::curl_slist_append) slistAppend = nullptr;
  decltype(&::curl_slist_free_all) slistFreeAll = nullptr;
  decltype(&::curl_url) urlNew = nullptr;
  decltype(&::curl_url_set) urlSet = nullptr;
  decltype(&::curl_url_cleanup) urlCleanup = nullptr;

  // The loaded and initialised library, or null when it cannot be loaded.
  static const CurlApi* get();
};

}  // namespace shelvo::platform
