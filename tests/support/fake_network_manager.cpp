// A NetworkManager stand-in for tests: owns org.freedesktop.NetworkManager on the bus in
// DBUS_SYSTEM_BUS_ADDRESS and answers the Metered property with the value given.
#include <systemd/sd-bus.h>

#include "tests/support/bus_service.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

std::uint32_t metered = 0;

int getMetered(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
               sd_bus_error*) {
  return sd_bus_message_append(reply, "u", metered);
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Metered", "u", getMetered, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_VTABLE_END,
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fake-network-manager READY_FILE METERED\n");
    return 2;
  }
  metered = static_cast<std::uint32_t>(std::atoi(argv[2]));
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return 1;
  if (sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/NetworkManager",
                               "org.freedesktop.NetworkManager", kVtable, nullptr) < 0) {
    return 1;
  }
  return shelvo::test::serveOnBus(bus, "org.freedesktop.NetworkManager", argv[1]);
}
