#pragma once

#include <functional>

namespace shelvo::platform {

// Takes SIGTERM and SIGINT off their default action and hands each to onStop on a thread of its
// own, so that a stopped program can wind down instead of vanishing. Blocks them in the calling
// thread; threads started later inherit that, so call it before any other thread starts.
// Programs started later (posix_spawn with an empty mask) get them back.
void watchStopSignals(std::function<void(int signal)> onStop);

}  // namespace shelvo::platform
