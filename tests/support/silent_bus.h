#pragma once

#include <filesystem>
#include <thread>

#include "platform/env/unique_fd.h"

namespace shelvo::test {

// A socket where a user's session bus should be, run by that user to stall whoever connects:
// it accepts and never answers, or it answers the authentication and then falls silent.
class SilentBus {
 public:
  enum class Mode { neverAnswers, silentAfterAuthentication };
  SilentBus(const std::filesystem::path& socket, Mode mode);
  ~SilentBus();
  SilentBus(const SilentBus&) = delete;
  SilentBus& operator=(const SilentBus&) = delete;

 private:
  void serve(Mode mode);

  platform::UniqueFd listener_;
  platform::UniqueFd stopRead_;
  platform::UniqueFd stopWrite_;
  std::thread thread_;
};

}  // namespace shelvo::test
