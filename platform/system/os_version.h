#pragma once

namespace shelvo::platform {

struct OperatingSystemVersion {
  int major = 0;
  int minor = 0;
  int patch = 0;
};

bool isAtLeast(const OperatingSystemVersion& running, const OperatingSystemVersion& required);

// The feature level of the running system in the platform's numbering. Linux with systemd
// offers everything the agent gates on (service management), so it reports that level.
OperatingSystemVersion runningOperatingSystemVersion();

}  // namespace shelvo::platform
