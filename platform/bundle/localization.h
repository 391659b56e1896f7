#pragma once

#include <optional>
#include <string>

#include "platform/bundle/bundle.h"

namespace shelvo::platform {

class Env;

// The bundle's translation of key from Contents/Resources/<language>.lproj/Localizable.strings
// (the language of LANG, then "en", then "Base"); the key itself when there is none.
// In the language LANG names, else English.
std::string localizedString(const std::optional<Bundle>& bundle, const std::string& key,
                            const Env& env);

}  // namespace shelvo::platform
