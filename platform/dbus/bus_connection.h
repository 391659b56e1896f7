#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/result.h"
#include "platform/dbus/sd_bus_api.h"

namespace shelvo::platform {

// Receives one kind of signal for as long as it lives.
class SignalSubscription {
 public:
  using Handler = std::function<void(sd_bus_message*)>;
  SignalSubscription(std::unique_ptr<Handler> handler, SdBusSlot slot)
      : handler_(std::move(handler)), slot_(std::move(slot)) {}

 private:
  std::unique_ptr<Handler> handler_;  // sd-bus holds its address
  SdBusSlot slot_;
};

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

  struct Signal {
    const char* sender;  // a bus name; ignored on a peer connection, which has none
    const char* path;
    const char* interface;
    const char* member;
  };
  // Hands each matching signal to handler while the subscription lives. Signals that arrive
  // during call() are kept and handed over by dispatchUntil().
  Result<SignalSubscription> subscribe(const Signal& signal,
                                       SignalSubscription::Handler handler) const;
  // Dispatches incoming messages until done() holds; an error when the deadline passes first
  // or the connection breaks.
  Status dispatchUntil(const std::function<bool()>& done,
                       std::chrono::steady_clock::time_point deadline) const;
};

// The system bus (DBUS_SYSTEM_BUS_ADDRESS or the standard socket).
Result<BusConnection> openSystemBus();
// The caller's session bus (DBUS_SESSION_BUS_ADDRESS or $XDG_RUNTIME_DIR/bus).
Result<BusConnection> openSessionBus();
// A peer-to-peer connection to a bus server at address, such as systemd's private socket.
Result<BusConnection> openPeerBus(const std::string& address);

}  // namespace shelvo::platform
