#include "platform/dbus/sd_bus_api.h"

#include "platform/dynamic/library.h"

namespace shelvo::platform {
const SdBusApi* SdBusApi::get() {
  static const SdBusApi* const api =
      loadTable<SdBusApi>("libsystemd.so.0", [](const DynamicLibrary& library, SdBusApi& loaded) {
        return library.resolve(loaded.openSystem, "sd_bus_open_system") &&
               library.resolve(loaded.openUser, "sd_bus_open_user") &&
               library.resolve(loaded.create, "sd_bus_new") &&
               library.resolve(loaded.setAddress, "sd_bus_set_address") &&
               library.resolve(loaded.setBusClient, "sd_bus_set_bus_client") &&
               library.resolve(loaded.start, "sd_bus_start") &&
               library.resolve(loaded.flushCloseUnref, "sd_bus_flush_close_unref") &&
               library.resolve(loaded.newMethodCall, "sd_bus_message_new_method_call") &&
               library.resolve(loaded.setAutoStart, "sd_bus_message_set_auto_start") &&
               library.resolve(loaded.append, "sd_bus_message_append") &&
               library.resolve(loaded.openContainer, "sd_bus_message_open_container") &&
               library.resolve(loaded.closeContainer, "sd_bus_message_close_container") &&
               library.resolve(loaded.read, "sd_bus_message_read") &&
               library.resolve(loaded.enterContainer, "sd_bus_message_enter_container") &&
               library.resolve(loaded.exitContainer, "sd_bus_message_exit_container") &&
               library.resolve(loaded.skip, "sd_bus_message_skip") &&
               library.resolve(loaded.messageUnref, "sd_bus_message_unref") &&
               library.resolve(loaded.call, "sd_bus_call") &&
               library.resolve(loaded.errorFree, "sd_bus_error_free") &&
               library.resolve(loaded.isBusClient, "sd_bus_is_bus_client") &&
               library.resolve(loaded.matchSignal, "sd_bus_match_signal") &&
               library.resolve(loaded.slotUnref, "sd_bus_slot_unref") &&
               library.resolve(loaded.process, "sd_bus_process") &&
               library.resolve(loaded.wait, "sd_bus_wait");
      });
  return api;
}

void SdBusCloser::operator()(sd_bus* bus) const {
  if (const SdBusApi* api = SdBusApi::get()) api->flushCloseUnref(bus);
}

void SdBusMessageCloser::operator()(sd_bus_message* message) const {
  if (const SdBusApi* api = SdBusApi::get()) api->messageUnref(message);
}

void SdBusSlotCloser::operator()(sd_bus_slot* slot) const {
  if (const SdBusApi* api = SdBusApi::get()) api->slotUnref(slot);
}

SdBusError::~SdBusError() {
  if (const SdBusApi* api = SdBusApi::get()) api->errorFree(&error_);
}

}  // namespace shelvo::platform
