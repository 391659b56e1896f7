#pragma once

#include <filesystem>
#include <string>

#include "base/result.h"

namespace shelvo {

// Who the helper serves, and what can be judged of a client from its files alone; shared with
// shelvo-codesign, so an administrator can check an installed client before the helper does.

inline constexpr const char* kTeamIdentifier = "QZ7R2TW9LM";

// The requirement the helper's Info.plist names as its authorised client.
inline constexpr const char* kLongRequirement =
    "anchor apple generic and identifier \"ostrel.shelvo\" and (certificate "
    "leaf[field.1.2.840.113635.100.6.1.9] /* exists */ or certificate "
    "1[field.1.2.840.113635.100.6.2.6] /* exists */ and certificate "
    "leaf[field.1.2.840.113635.100.6.1.13] /* exists */ and certificate leaf[subject.OU] = "
    "\"QZ7R2TW9LM\")";

// The short requirement every client must meet, built once per process.
const std::string& clientRequirement();

// The executable and its signature must be files only root can change, in folders only root can
// change, or another user could swap them between the helper's check and the next start.
platform::Status checkProtectedCode(const std::filesystem::path& executable);

// Whether starting the file puts the process in secure-execution mode, not dumpable, which the
// helper asks of a running client: setuid or setgid.
platform::Status checkStartsHardened(const std::filesystem::path& executable);

}  // namespace shelvo
