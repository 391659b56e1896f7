#pragma once

#include <string>

#include "platform/codesign/code_signature.h"
#include "platform/ipc/peer_socket.h"
#include "platform/log/logger.h"

namespace shelvo {

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

// Whether the process at the other end of the connection is the desktop app signed by the
// team: its running executable's signature must meet the client requirement and the long one
// (a Unix socket cannot be made to re-check it on every message). Refusals are logged.
bool isValidClient(platform::PeerSocket& connection, platform::PeerCredentials& peer,
                   const platform::TrustAnchors& anchors, const platform::Logger& logger);

}  // namespace shelvo
