#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "platform/defaults/preferences.h"

namespace shelvo::tools {

// What an administrator needs to see why a setting has its value: every layer file and what
// became of it (used, missing, unreadable, skipped and why), then every setting with the file it
// comes from, the settings the agent reads but nobody set included. For the agent's domain also
// the service URL a command run here would use (serviceURL is SHELVO_SERVICE_URL, when set).
// The credential is shown as present or absent only. Nothing is written.
void explainDomain(const platform::Preferences& preferences,
                   const std::optional<std::string>& serviceURL, std::ostream& out);

}  // namespace shelvo::tools
