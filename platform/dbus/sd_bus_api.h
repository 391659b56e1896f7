#pragma once

#include <systemd/sd-bus.h>

#include <memory>

namespace shelvo::platform {

// The sd-bus calls the programs use, resolved from libsystemd when first needed, so commands
// that never touch D-Bus do not pay for loading it.
struct SdBusApi {
  decltype(&::sd_bus_open_system) openSystem = nullptr;
  decltype(&::sd_bus_open_user) openUser = nullptr;
  decltype(&::sd_bus_new) create = nullptr;
  decltype(&::sd_bus_set_address) setAddress = nullptr;
  decltype(&::sd_bus_set_bus_client) setBusClient = nullptr;
  decltype(&::sd_bus_start) start = nullptr;
  decltype(&::sd_bus_flush_close_unref) flushCloseUnref = nullptr;
  decltype(&::sd_bus_message_new_method_call) newMethodCall = nullptr;
  decltype(&::sd_bus_message_set_auto_start) setAutoStart = nullptr;
  decltype(&::sd_bus_message_append) append = nullptr;
  decltype(&::sd_bus_message_open_container) openContainer = nullptr;
  decltype(&::sd_bus_message_close_container) closeContainer = nullptr;
  decltype(&::sd_bus_message_read) read = nullptr;
  decltype(&::sd_bus_message_enter_container) enterContainer = nullptr;
  decltype(&::sd_bus_message_exit_container) exitContainer = nullptr;
  decltype(&::sd_bus_message_skip) skip = nullptr;
  decltype(&::sd_bus_message_unref) messageUnref = nullptr;
  decltype(&::sd_bus_call) call = nullptr;
  decltype(&::sd_bus_error_free) errorFree = nullptr;
  decltype(&::sd_bus_is_bus_client) isBusClient = nullptr;
  decltype(&::sd_bus_match_signal) matchSignal = nullptr;
  decltype(&::sd_bus_slot_unref) slotUnref = nullptr;
  decltype(&::sd_bus_process) process = nullptr;
  decltype(&::sd_bus_wait) wait = nullptr;

  // The loaded calls, or null when libsystemd is missing.
  static const SdBusApi* get();
};

struct SdBusCloser {
  void operator()(sd_bus* bus) const;
};
struct SdBusMessageCloser {
  void operator()(sd_bus_message* message) const;
};
struct SdBusSlotCloser {
  void operator()(sd_bus_slot* slot) const;
};
using SdBus = std::unique_ptr<sd_bus, SdBusCloser>;
using SdBusSlot = std::unique_ptr<sd_bus_slot, SdBusSlotCloser>;
using SdBusMessage = std::unique_ptr<sd_bus_message, SdBusMessageCloser>;

// An sd_bus_error freed when it goes out of scope.
class SdBusError {
 public:
  SdBusError() = default;
  SdBusError(const SdBusError&) = delete;
  SdBusError& operator=(const SdBusError&) = delete;
  ~SdBusError();
  sd_bus_error* get() { return &error_; }
  const char* name() const { return error_.name; }
  const char* message() const { return error_.message; }

 private:
  sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

}  // namespace shelvo::platform
