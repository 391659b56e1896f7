#pragma once

#include <optional>
#include <string>

#include "platform/bundle/bundle.h"

namespace shelvo::platform {

// The bundle's translation of key from Contents/Resources/<language>.lproj/Localizable.strings
// (the language of LANG, then "en", then "Base"); the key itself when there is none.
std::string localizedString(const std::optional<Bundle>& bundle, const std::string& key);

}  // namespace shelvo::platform
