#include "shared/build/build_settings.h"

#if !defined(SHELVO_DEFAULT_SERVICE_URL) || !defined(SHELVO_VERSION) || !defined(SHELVO_BUILD)
#error "the build sets SHELVO_DEFAULT_SERVICE_URL, SHELVO_VERSION and SHELVO_BUILD"
#endif

namespace shelvo {

std::string_view builtInServiceURL() {
  return SHELVO_DEFAULT_SERVICE_URL;
}

std::string_view builtVersion() {
  return SHELVO_VERSION " (" SHELVO_BUILD ")";
}

std::string serviceURLLine(const std::optional<std::string>& configured) {
  std::string builtIn(builtInServiceURL());
  if (!configured || configured->empty())
    return "Service URL: " + builtIn + " (built in; the timer's runs use it too)";
  return "Service URL: " + *configured +
         " (SHELVO_SERVICE_URL here; the timer's runs use the built-in " + builtIn + ")";
}

}  // namespace shelvo
