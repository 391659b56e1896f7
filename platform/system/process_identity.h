#pragma once

#include <sys/types.h>

#include <optional>

#include "platform/env/unique_fd.h"

namespace shelvo::platform {

// Clock ticks since boot: the unit in which /proc/<pid>/stat gives a process's start time.
using BootTicks = unsigned long long;
BootTicks ticksSinceBoot();

// When the process that now holds pid started; nothing when there is none.
std::optional<BootTicks> processStartTicks(pid_t pid);

// A pidfd for whatever process holds pid now; invalid when none does.
UniqueFd openProcess(pid_t pid);

// Whether the process a pidfd pins has not ended. While it has not, its pid names it and no
// other process, so what was read under /proc/<pid> before this answered true was its.
bool processAlive(int pidfd);

// Sends the signal to the process a pidfd pins: false once that process has ended, and never to
// another process that took its pid since.
bool signalProcess(int pidfd, int signal);

}  // namespace shelvo::platform
