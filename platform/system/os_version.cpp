#include "platform/system/os_version.h"

#include <tuple>

namespace shelvo::platform {

bool isAtLeast(const OperatingSystemVersion& running, const OperatingSystemVersion& required) {
  return std::tie(running.major, running.minor, running.patch) >=
         std::tie(required.major, required.minor, required.patch);
}

OperatingSystemVersion runningOperatingSystemVersion() {
  return {13, 0, 0};
}

}  // namespace shelvo::platform
