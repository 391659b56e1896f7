#pragma once

#include <optional>
#include <string>

#include "helper/client_policy.h"
#include "platform/codesign/code_signature.h"
#include "platform/codesign/guest_code.h"
#include "platform/ipc/peer_socket.h"
#include "platform/log/logger.h"

namespace shelvo {

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
