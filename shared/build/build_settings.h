#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace shelvo {

// The app service's base URL built into the programs: where the agent's requests go when
// SHELVO_SERVICE_URL is not set, as for every run the timer starts.
std::string_view builtInServiceURL();
// The project's version and build, "3.1 (164)".
std::string_view builtVersion();

// One line for an administrator: the service URL a command run here would use, and where it
// comes from (configured is SHELVO_SERVICE_URL, when set).
std::string serviceURLLine(const std::optional<std::string>& configured);

}  // namespace shelvo
