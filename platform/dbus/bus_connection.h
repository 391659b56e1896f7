#pragma once

#include <optional>
#include <string>

#include "platform/dbus/sd_bus_api.h"
#include "platform/result.h"

namespace shelvo::platform {

// A bus connection for one use. Opened through the lazily loaded libsystemd.
struct BusConnection {
  const SdBusApi* api = nullptr;
  SdBus bus;
};

// The system bus (DBUS_SYSTEM_BUS_ADDRESS or the standard socket).
Result<BusConnection> openSystemBus();
// The caller's session bus (DBUS_SESSION_BUS_ADDRESS or $XDG_RUNTIME_DIR/bus).
Result<BusConnection> openSessionBus();
// A peer-to-peer connection to a bus server at address, such as systemd's private socket.
Result<BusConnection> openPeerBus(const std::string& address);

}  // namespace shelvo::platform
