#include "platform/http/network_policy.h"

#include <cstdint>

#include "platform/dbus/bus_connection.h"

namespace shelvo::platform {
namespace {

constexpr std::uint64_t kCallTimeoutMicroseconds = 2'000'000;
constexpr std::uint32_t kMeteredYes = 1;
constexpr std::uint32_t kMeteredGuessYes = 3;

}  // namespace

NetworkCost NetworkManagerPolicy::currentNetworkCost() {
  auto connection = openSystemBus();
  if (!connection) return NetworkCost::Ordinary;
  SdBusError error;
  auto reply = connection->call(
      {"org.freedesktop.NetworkManager", "/org/freedesktop/NetworkManager",
       "org.freedesktop.DBus.Properties", "Get"},
      [](const SdBusApi* api, sd_bus_message* call) {
        return api->append(call, "ss", "org.freedesktop.NetworkManager", "Metered");
      },
      kCallTimeoutMicroseconds, error);
  if (!reply) return NetworkCost::Ordinary;
  std::uint32_t metered = 0;
  if (connection->api->read(reply->get(), "v", "u", &metered) < 0) return NetworkCost::Ordinary;
  if (metered == kMeteredYes) return NetworkCost::Constrained;
  if (metered == kMeteredGuessYes) return NetworkCost::Expensive;
  return NetworkCost::Ordinary;
}

}  // namespace shelvo::platform
