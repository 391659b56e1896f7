#include "platform/system/sleeper.h"

#include <thread>

namespace shelvo::platform {

void RealSleeper::sleepFor(std::chrono::seconds duration) {
  std::this_thread::sleep_for(duration);
}

}  // namespace shelvo::platform
