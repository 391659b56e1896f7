#pragma once

namespace shelvo::platform {

// Ends the process with status after flushing standard output. Static destructors do not run,
// so threads still reading pipes or waiting on the network cannot trip over them.
[[noreturn]] void endProcess(int status);

}  // namespace shelvo::platform
