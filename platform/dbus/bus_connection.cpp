#include "platform/dbus/bus_connection.h"

#include <cstring>

namespace shelvo::platform {
namespace {

Result<BusConnection> opened(const SdBusApi* api, sd_bus* bus, int rc, const char* what) {
  if (rc < 0) {
    if (bus != nullptr) api->flushCloseUnref(bus);
    return Error{std::string("cannot connect to the ") + what + ": " + std::strerror(-rc)};
  }
  return BusConnection{api, SdBus(bus)};
}

}  // namespace

Result<BusConnection> openSystemBus() {
  const SdBusApi* api = SdBusApi::get();
  if (api == nullptr) return Error{"libsystemd is not available"};
  sd_bus* bus = nullptr;
  int rc = api->openSystem(&bus);
  return opened(api, bus, rc, "system bus");
}

Result<BusConnection> openSessionBus() {
  const SdBusApi* api = SdBusApi::get();
  if (api == nullptr) return Error{"libsystemd is not available"};
  sd_bus* bus = nullptr;
  int rc = api->openUser(&bus);
  return opened(api, bus, rc, "session bus");
}

Result<BusConnection> openPeerBus(const std::string& address) {
  const SdBusApi* api = SdBusApi::get();
  if (api == nullptr) return Error{"libsystemd is not available"};
  sd_bus* bus = nullptr;
  int rc = api->create(&bus);
  if (rc >= 0) rc = api->setAddress(bus, address.c_str());
  if (rc >= 0) rc = api->start(bus);
  return opened(api, bus, rc, address.c_str());
}

}  // namespace shelvo::platform
