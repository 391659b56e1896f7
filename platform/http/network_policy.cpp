#include "platform/http/network_policy.h"

#include <cstdint>

#include "platform/dbus/sd_bus_api.h"

namespace shelvo::platform {
namespace {

constexpr std::uint64_t kCallTimeoutMicroseconds = 2'000'000;
constexpr std::uint32_t kMeteredYes = 1;
constexpr std::uint32_t kMeteredGuessYes = 3;

}  // namespace

NetworkCost NetworkManagerPolicy::currentNetworkCost() {
  const SdBusApi* api = SdBusApi::get();
  if (api == nullptr) return NetworkCost::Ordinary;
  sd_bus* raw = nullptr;
  if (api->openSystem(&raw) < 0) return NetworkCost::Ordinary;
  SdBus bus(raw);
  sd_bus_message* rawCall = nullptr;
  if (api->newMethodCall(bus.get(), &rawCall, "org.freedesktop.NetworkManager",
                         "/org/freedesktop/NetworkManager", "org.freedesktop.DBus.Properties",
                         "Get") < 0) {
    return NetworkCost::Ordinary;
  }
  SdBusMessage call(rawCall);
  // A stopped NetworkManager must not be started, or waited for, on our account.
  api->setAutoStart(call.get(), 0);
  if (api->append(call.get(), "ss", "org.freedesktop.NetworkManager", "Metered") < 0) {
    return NetworkCost::Ordinary;
  }
  SdBusError error;
  sd_bus_message* rawReply = nullptr;
  if (api->call(bus.get(), call.get(), kCallTimeoutMicroseconds, error.get(), &rawReply) < 0) {
    return NetworkCost::Ordinary;
  }
  SdBusMessage reply(rawReply);
  std::uint32_t metered = 0;
  if (api->read(reply.get(), "v", "u", &metered) < 0) return NetworkCost::Ordinary;
  if (metered == kMeteredYes) return NetworkCost::Constrained;
  if (metered == kMeteredGuessYes) return NetworkCost::Expensive;
  return NetworkCost::Ordinary;
}

}  // namespace shelvo::platform
