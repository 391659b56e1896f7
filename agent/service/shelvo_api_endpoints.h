#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace shelvo {

// The app service's URLs, built on its base URL: the configured one (SHELVO_SERVICE_URL), or
// the one set at build time. Parsed once; a base that is not an absolute https:// URL gives
// no endpoints.
class ShelvoAPIEndpoints {
 public:
  static platform::Result<ShelvoAPIEndpoints> fromConfigured(
      const std::optional<std::string>& configured);

  // Without a trailing "/": "https://host/" + "/apps" must not double up.
  const std::string& baseURL() const { return base_; }
  std::string appsEndpoint() const { return base_ + "/apps"; }
  std::string updateEndpoint() const { return base_ + "/apps/update"; }

  // What the operator is told when the base URL is unusable.
  static constexpr const char* kUnusableBaseURLHint =
      "shelvo: the app service URL (SHELVO_SERVICE_URL) must be an absolute https:// URL";

  // An absolute https:// URL with a host, made only of characters a URL may hold.
  static bool isAbsoluteHttpsURL(std::string_view text);

 private:
  explicit ShelvoAPIEndpoints(std::string base) : base_(std::move(base)) {}

  std::string base_;
};

}  // namespace shelvo
