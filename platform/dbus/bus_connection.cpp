#include "platform/dbus/bus_connection.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace shelvo::platform {
namespace {

// Where libsystemd connects when DBUS_SYSTEM_BUS_ADDRESS is not set.
constexpr const char* kStandardSystemBusSocket = "/run/dbus/system_bus_socket";

// Whether the system bus plainly is not there: no address set and no standard socket. Loading
// libsystemd (and the libraries it pulls in) only to be told so costs a short command more than
// the attempt is worth, on every machine without D-Bus (a container, a minimal server).
bool systemBusAbsent() {
  if (::secure_getenv("DBUS_SYSTEM_BUS_ADDRESS") != nullptr) return false;
  return ::access(kStandardSystemBusSocket, F_OK) != 0 && errno == ENOENT;
}

Result<BusConnection> opened(const SdBusApi* api, sd_bus* bus, int rc, const char* what) {
  if (rc < 0) {
    if (bus != nullptr) api->flushCloseUnref(bus);
    return Error{std::string("cannot connect to the ") + what + ": " + std::strerror(-rc)};
  }
  return BusConnection{api, SdBus(bus)};
}

int deliverSignal(sd_bus_message* message, void* userdata, sd_bus_error*) {
  (*static_cast<SignalSubscription::Handler*>(userdata))(message);
  return 0;
}

}  // namespace

Result<SignalSubscription> BusConnection::subscribe(const Signal& signal,
                                                    SignalSubscription::Handler handler) const {
  auto owned = std::make_unique<SignalSubscription::Handler>(std::move(handler));
  const char* sender = api->isBusClient(bus.get()) > 0 ? signal.sender : nullptr;
  sd_bus_slot* slot = nullptr;
  int rc = api->matchSignal(bus.get(), &slot, sender, signal.path, signal.interface, signal.member,
                            deliverSignal, owned.get());
  if (rc < 0) {
    return Error{std::string("cannot subscribe to ") + signal.member + ": " + std::strerror(-rc),
                 -rc};
  }
  return SignalSubscription(std::move(owned), SdBusSlot(slot));
}

Status BusConnection::dispatchUntil(const std::function<bool()>& done,
                                    std::chrono::steady_clock::time_point deadline) const {
  while (!done()) {
    int rc = api->process(bus.get(), nullptr);
    if (rc < 0) return Error{std::string("the bus connection broke: ") + std::strerror(-rc), -rc};
    if (rc > 0) continue;  // there may be more queued
    auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
      return Error{"no answer in time", ETIMEDOUT};
    }
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
    rc = api->wait(bus.get(), static_cast<std::uint64_t>(micros));
    if (rc < 0) return Error{std::string("the bus connection broke: ") + std::strerror(-rc), -rc};
  }
  return success();
}

Result<SdBusMessage> BusConnection::call(const Method& method, const Arguments& arguments,
                                         std::uint64_t timeoutMicroseconds,
                                         SdBusError& error) const {
  sd_bus_message* rawCall = nullptr;
  int rc = api->newMethodCall(bus.get(), &rawCall, method.destination, method.path,
                              method.interface, method.member);
  if (rc < 0) return Error{"cannot build the call"};
  SdBusMessage message(rawCall);
  api->setAutoStart(message.get(), 0);
  if (arguments && arguments(api, message.get()) < 0) return Error{"cannot build the call"};
  sd_bus_message* rawReply = nullptr;
  rc = api->call(bus.get(), message.get(), timeoutMicroseconds, error.get(), &rawReply);
  if (rc < 0) {
    SdBusMessage ignored(rawReply);
    if (error.message() != nullptr) return Error{error.message()};
    return Error{std::string("the call failed: ") + std::strerror(-rc)};
  }
  return SdBusMessage(rawReply);
}

Result<BusConnection> openSystemBus() {
  if (systemBusAbsent()) {
    return Error{std::string("cannot connect to the system bus: ") + std::strerror(ENOENT)};
  }
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
