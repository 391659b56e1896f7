#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/dbus/sd_bus_api.h"
#include "platform/result.h"

namespace shelvo::platform {

// A bus connection for one use. Opened through the lazily loaded libsystemd.
struct BusConnection {
  const SdBusApi* api = nullptr;
  SdBus bus;

  struct Method {
    const char* destination;
    const char* path;
    const char* interface;
    const char* member;
  };
  // Adds the call's arguments; returns a negative errno on failure.
  using Arguments = std::function<int(const SdBusApi*, sd_bus_message*)>;

  // Calls a method with auto-start off, so a service that is not running is never started on
  // our account, and waits at most timeout. Returns the reply, or the bus error (name and
  // message set when the peer answered with one).
  Result<SdBusMessage> call(const Method& method, const Arguments& arguments,
                            std::uint64_t timeoutMicroseconds, SdBusError& error) const;
};

// The system bus (DBUS_SYSTEM_BUS_ADDRESS or the standard socket).
Result<BusConnection> openSystemBus();
// The caller's session bus (DBUS_SESSION_BUS_ADDRESS or $XDG_RUNTIME_DIR/bus).
Result<BusConnection> openSessionBus();
// A peer-to-peer connection to a bus server at address, such as systemd's private socket.
Result<BusConnection> openPeerBus(const std::string& address);

}  // namespace shelvo::platform
