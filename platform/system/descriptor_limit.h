#pragma once

namespace shelvo::platform {

// Raises the soft limit on open descriptors to the hard one, so a server's own caps, not the
// default 1024, decide how many clients it holds.
void raiseDescriptorLimit();

}  // namespace shelvo::platform
