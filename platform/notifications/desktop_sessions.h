#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "base/result.h"
#include "platform/system/root_prefix.h"

namespace shelvo::platform {

// A person at the machine: an active, local, graphical user session that logind knows, and the
// session bus of its user.
struct DesktopSession {
  std::string id;
  unsigned uid = 0;
  std::string user;
  std::filesystem::path bus;  // $SHELVO_ROOT/run/user/<uid>/bus
};

struct DesktopSessionSurvey {
  std::vector<DesktopSession> sessions;  // one per user, in logind's order
  std::vector<std::string> skipped;      // "session ID: why", for the debug log
};

// Asks logind (org.freedesktop.login1 on the system bus) for its sessions and keeps those that
// are active, not remote, of type x11 or wayland and class user, and whose user has a session
// bus socket.
Result<DesktopSessionSurvey> findDesktopSessions(const RootPrefix& root);

}  // namespace shelvo::platform
