#pragma once

#include <string>

#include "base/result.h"
#include "platform/dbus/bus_opener.h"
#include "platform/env/unique_fd.h"

namespace shelvo::platform {

// A delay lock of logind's: shutdown and sleep wait for it (up to logind's InhibitDelayMaxSec)
// until it is released, when this object ends.
class InhibitorLock {
 public:
  explicit InhibitorLock(UniqueFd fd) : fd_(std::move(fd)) {}

 private:
  UniqueFd fd_;
};

// Holds back shutdown and sleep while work runs that must not be cut in half.
class ShutdownInhibitor {
 public:
  virtual ~ShutdownInhibitor() = default;
  // An error when no lock could be had (no logind, no bus): the work goes on without one.
  virtual Result<InhibitorLock> delayShutdown(const std::string& why) = 0;
};

// logind's Inhibit("shutdown:sleep", who, why, "delay") on the system bus.
class LogindInhibitor final : public ShutdownInhibitor {
 public:
  // On the system bus.
  explicit LogindInhibitor(std::string who);
  LogindInhibitor(std::string who, SystemBusOpener openBus)
      : who_(std::move(who)), openBus_(std::move(openBus)) {}

  Result<InhibitorLock> delayShutdown(const std::string& why) override;

 private:
  std::string who_;
  SystemBusOpener openBus_;
};

}  // namespace shelvo::platform
