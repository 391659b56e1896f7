#include "platform/system/standard_descriptors.h"

#include <fcntl.h>

#include <cerrno>

namespace shelvo::platform {

void openMissingStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free number is this one: those below it are open by now. Kept open for good,
    // and across exec, as a standard descriptor is.
    ::open("/dev/null", O_RDWR);
  }
}

}  // namespace shelvo::platform
