#include "agent/service/shelvo_api_endpoints.h"

#include <cctype>
#include <cstdlib>

#include "platform/http/url_syntax.h"
#include "shared/build/build_settings.h"

namespace shelvo {
namespace {

bool isURLCharacter(unsigned char c) {
  if (c <= 0x20 || c >= 0x7F) return false;
  return std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) == std::string_view::npos;
}

}  // namespace

bool ShelvoAPIEndpoints::isAbsoluteHttpsURL(std::string_view text) {
  for (unsigned char c : text) {
    if (!isURLCharacter(c)) return false;
  }
  auto parts = platform::splitURL(text);
  // Schemes are case-insensitive: "HTTPS://" is the same scheme.
  constexpr std::string_view kScheme = "https";
  if (parts.scheme.size() != kScheme.size()) return false;
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(parts.scheme[i])) != kScheme[i]) return false;
  }
  return !parts.hostAndPort.empty() && parts.hostAndPort.front() != ':';
}

platform::Result<ShelvoAPIEndpoints> ShelvoAPIEndpoints::fromConfigured(
    const std::optional<std::string>& configured) {
  std::string base =
      configured && !configured->empty() ? *configured : std::string(builtInServiceURL());
  if (!isAbsoluteHttpsURL(base) || !platform::parsesAsURL(base))
    return platform::Error{kUnusableBaseURLHint};
  while (base.back() == '/') base.pop_back();
  return ShelvoAPIEndpoints(std::move(base));
}

}  // namespace shelvo
