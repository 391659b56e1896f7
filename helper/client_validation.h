#pragma once

#include <optional>
#include <string>

#include "platform/codesign/code_signature.h"
#include "platform/codesign/guest_code.h"
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

// A peer the helper admitted, and the file it ran when admitted.
struct AdmittedClient {
  platform::PeerCredentials peer;
  std::optional<platform::ExecutableIdentity> executable;
};

// Admits the process at the other end of the connection only when it is the desktop app signed
// by the team and hardened: started in secure-execution mode, not dumpable, not traced, its
// executable and signature protected from other users, and its signature meeting the client
// requirement and the long one (a Unix socket cannot be made to re-check it on every message).
// Each refusal is logged with its reason.
std::optional<AdmittedClient> admitClient(const platform::PeerSocket& connection,
                                          const platform::PeerCredentials& peer,
                                          const platform::TrustAnchors& anchors,
                                          const platform::Logger& logger);

}  // namespace shelvo
