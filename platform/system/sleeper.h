#pragma once

#include <chrono>

namespace shelvo::platform {

// Waiting is injected so tests of long waits run at once.
class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void sleepFor(std::chrono::seconds duration) = 0;
};

class RealSleeper final : public Sleeper {
 public:
  void sleepFor(std::chrono::seconds duration) override;
};

}  // namespace shelvo::platform
