#pragma once

#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "agent/agent_platform.h"
#include "agent/service/shelvo_api_endpoints.h"
#include "agent/update-check/installed_app_item.h"
#include "agent/update-check/shelvo_item.h"
#include "platform/bundle/application_index.h"
#include "platform/defaults/preferences.h"
#include "platform/log/logger.h"

namespace shelvo {

// The update check: which of the service's apps are installed here in an older version. The
// result is printed and, for a user other than root, stored for the desktop app. The installed
// apps are looked for on a thread of their own while the service answers; a checker ended
// before detectUpdates() stops that search and waits for it.
class AppUpdateChecker {
 public:
  // endpoints: the service's URLs, or why there are none.
  AppUpdateChecker(const AgentPlatform& platform,
                   const platform::Result<ShelvoAPIEndpoints>& endpoints);

  // Fetches the service's public app list into allShelvoItems. A transport or HTTP failure is
  // logged, printed and returned; a list that does not decode leaves allShelvoItems empty.
  // Starts the search for the installed apps before the request.
  platform::Status fetchAppList();
  void detectUpdates();

  const platform::Logger logger;
  std::vector<ShelvoItem> allShelvoItems;
  std::vector<InstalledAppItem> installedApps;
  std::vector<InstalledAppItem> updatesAvailable;
  const std::optional<platform::Preferences> defaults;

 private:
  // The first record of the service's list for each bundle identifier found installed.
  using FirstRecords = std::unordered_map<std::string_view, const ShelvoItem*>;
  void printSummary(const FirstRecords& records) const;
  void storeUpdates();
  void startLookingForApps();
  platform::ApplicationIndex lookForApps(std::stop_token stop) const;
  const platform::ApplicationIndex& installedBundles();

  const AgentPlatform& platform_;
  const platform::Result<ShelvoAPIEndpoints>& endpoints_;
  std::optional<platform::ApplicationIndex> index_;
  std::jthread indexer_;  // last: stopped and joined before the members it fills go
};

}  // namespace shelvo
