#pragma once

#include <optional>
#include <string>

#include "base/result.h"
#include "platform/dbus/bus_opener.h"
#include "platform/system/root_prefix.h"

namespace shelvo::platform {

// The registration states of a launch daemon.
enum class ServiceStatus {
  NotRegistered = 0,
  Enabled = 1,
  RequiresApproval = 2,
  NotFound = 3,
  Unknown = 4
};

// A scheduled daemon's registration with the system's service management. A failure's message
// is the bus error's message and its name the bus error's name.
class ScheduledService {
 public:
  virtual ~ScheduledService() = default;
  virtual const std::string& unitName() const = 0;
  virtual ServiceStatus status() const = 0;
  virtual Status registerService() const = 0;
  virtual Status unregisterService() const = 0;
};

// A scheduled daemon as a systemd timer: a daemon property list "NAME.plist" is the timer unit
// "NAME.timer". systemd is reached on its private socket under the root prefix, else on the
// system bus.
class DaemonService final : public ScheduledService {
 public:
  // systemBus is where systemd is reached when its private socket is not there.
  DaemonService(const std::string& plistName, RootPrefix root, SystemBusOpener systemBus);

  const std::string& unitName() const override { return unitName_; }
  // GetUnitFileState: enabled 1 while the timer also runs, enabled but stopped or disabled 0,
  // masked 2 (an admin blocked it), no unit file 3.
  ServiceStatus status() const override;
  // EnableUnitFiles, Reload, StartUnit, then the start job's result.
  Status registerService() const override;
  // DisableUnitFiles (persistent, then runtime), StopUnit, Reload.
  Status unregisterService() const override;

 private:
  std::string unitName_;
  RootPrefix root_;
  SystemBusOpener systemBus_;
};

}  // namespace shelvo::platform
