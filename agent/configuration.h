#pragma once

#include <chrono>

namespace shelvo {

inline constexpr const char* kSubsystem = "ostrel.shelvo";
// The service requests' idle timeout, the platform's default request timeout.
inline constexpr std::chrono::seconds kRequestTimeout{60};
inline constexpr const char* kSuiteShelvo = "ostrel.shelvo";
inline constexpr const char* kSuiteShelvoAgent = "ostrel.shelvo.agent";
inline constexpr const char* kAgentBundlePath =
    "/Applications/Shelvo.app/Contents/Resources/Shelvo Agent.app/";

// User-defaults keys.
inline constexpr const char* kAuthorizationKey = "authorization";
inline constexpr const char* kHideUpdateNotificationsKey = "HideUpdateNotifications";
inline constexpr const char* kUpdateIntervalKey = "UpdateInterval";
inline constexpr const char* kLastUpdatedKey = "LastUpdated";
inline constexpr const char* kAllowUpdatesContrainedNetworksKey = "AllowUpdatesContrainedNetworks";
inline constexpr const char* kAllowUpdatesConstrainedNetworksKey =
    "AllowUpdatesConstrainedNetworks";
inline constexpr const char* kExcludeAppsUpdateKey = "ExcludeAppsUpdate";
inline constexpr const char* kSkipUpdatesOnBatteryKey = "SkipUpdatesOnBattery";
inline constexpr const char* kUpdateDetailsKey = "UpdateDetails";
inline constexpr const char* kUpdatesKey = "Updates";

}  // namespace shelvo
