#pragma once

#include <chrono>

namespace shelvo::platform {

enum class NetworkCost { Ordinary, Expensive, Constrained };

// How costly the network in use is; requests that may not use such a network fail before
// they are sent.
class NetworkPolicy {
 public:
  virtual ~NetworkPolicy() = default;
  virtual NetworkCost currentNetworkCost() = 0;
};

// NetworkManager's Metered property on the system bus: "yes" (set by the user) is constrained,
// "guess yes" (a phone hotspot, a mobile modem) is expensive; anything else, or no
// NetworkManager, is ordinary.
class NetworkManagerPolicy final : public NetworkPolicy {
 public:
  NetworkCost currentNetworkCost() override;
};

}  // namespace shelvo::platform
