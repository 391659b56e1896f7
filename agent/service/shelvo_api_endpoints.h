#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace shelvo {

// The app service's URLs, built on its base URL: the configured one (SHELVO_SERVICE_URL), or
// the one set at build time. Absent when the base is not an absolute https:// URL.
class ShelvoAPIEndpoints {
 public:
  static std::optional<std::string> baseURL(const std::optional<std::string>& configured);
  static std::optional<std::string> appsEndpoint(const std::optional<std::string>& configured);
  static std::optional<std::string> updateEndpoint(const std::optional<std::string>& configured);

  // What the operator is told when the base URL is unusable.
  static constexpr const char* kUnusableBaseURLHint =
      "shelvo: the app service URL (SHELVO_SERVICE_URL) must be an absolute https:// URL";

  // An absolute https:// URL with a host, made only of characters a URL may hold.
  static bool isAbsoluteHttpsURL(std::string_view text);
};

}  // namespace shelvo
