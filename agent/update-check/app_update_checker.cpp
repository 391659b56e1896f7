#include "agent/update-check/app_update_checker.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "agent/configuration.h"
#include "agent/report.h"
#include "base/path.h"
#include "emulation/text/numeric_comparison.h"
#include "platform/bundle/application_index.h"
#include "platform/bundle/localization.h"
#include "platform/http/url_session.h"

namespace shelvo {
namespace {

constexpr const char* kDesktopAppIdentifier = "ostrel.shelvo";

std::optional<platform::Preferences> openShelvoSuite(const AgentPlatform& platform) {
  std::optional<std::string> mainBundleId;
  if (platform.mainBundle) mainBundleId = platform.mainBundle->bundleIdentifier();
  return platform::Preferences::openSuite(*platform.env, kSuiteShelvo, platform.root, platform.user,
                                          mainBundleId);
}

// Apps on other volumes and inside home folders are not reported. The location is judged below
// the root prefix, so a scratch root in a home folder does not hide everything.
bool isInIgnoredLocation(const platform::Path& bundlePath, const platform::RootPrefix& root) {
  platform::Path location = bundlePath.lexically_relative(root.root());
  if (location.empty() || *location.begin() == "..") location = bundlePath;
  for (const auto& component : location) {
    if (component == "Volumes" || component == "Users") return true;
  }
  return false;
}

}  // namespace

AppUpdateChecker::AppUpdateChecker(const AgentPlatform& platform,
                                   const platform::Result<ShelvoAPIEndpoints>& endpoints)
    : logger(platform.log, kSubsystem, "AppUpdateChecker"),
      defaults(openShelvoSuite(platform)),
      platform_(platform),
      endpoints_(endpoints) {}

platform::Status AppUpdateChecker::fetchAppList() {
  logger.log("Checking app updates...");
  if (!endpoints_) {
    // Without a usable service URL there is no list to judge by: say so rather than report
    // "no updates" and overwrite the stored result.
    platform_.errorConsole->printLine(endpoints_.error().message);
    report(platform_, logger, platform::LogLevel::Error, "Error while encoding download URL");
    return platform::Error{"Error while encoding download URL"};
  }
  startLookingForApps();
  const std::string endpoint = endpoints_->appsEndpoint();
  platform::URLRequest request;
  request.url = endpoint;
  platform::DataTaskResult result =
      platform_.services->awaitDataTask(platform_.urlSession, std::move(request));
  if (result.error) {
    const std::string& description = result.error->localizedDescription;
    platform_.errorConsole->printLine("shelvo: the request to " + endpoint + " failed");
    report(platform_, logger, platform::LogLevel::Error,
           "Failed to get install information: %{public}s", {description});
    return platform::Error{description};
  }
  long status = result.response ? result.response->statusCode : 0;
  if (status != 200) {
    // Numbers are public: the entry shows the status.
    report(platform_, logger, platform::LogLevel::Error,
           "Error getting Shelvo App list. HTTP Error: %ld", {std::int64_t{status}});
    return platform::Error{"HTTP " + std::to_string(status)};
  }
  if (result.data) {
    if (auto items = decodeShelvoItems(*result.data)) allShelvoItems = std::move(*items);
  }
  return platform::success();
}

void AppUpdateChecker::startLookingForApps() {
  if (indexer_.joinable() || index_) return;
  try {
    indexer_ = std::jthread([this](std::stop_token stop) { index_ = lookForApps(stop); });
  } catch (const std::system_error&) {
    // No thread to spare: the apps are looked for where they are first needed.
  }
}

platform::ApplicationIndex AppUpdateChecker::lookForApps(std::stop_token stop) const {
  return platform::ApplicationIndex::build(
      *platform_.env, platform::ApplicationIndex::searchFolders(platform_.root, *platform_.env),
      std::move(stop));
}

const platform::ApplicationIndex& AppUpdateChecker::installedBundles() {
  if (indexer_.joinable()) indexer_.join();
  // Without a search under way (no fetch before, or no thread for it), here and now.
  if (!index_) index_ = lookForApps({});
  return *index_;
}

void AppUpdateChecker::detectUpdates() {
  logger.log("Getting installed apps...");
  std::optional<std::vector<std::string>> exclusions;
  if (defaults) exclusions = defaults->stringArrayForKey(kExcludeAppsUpdateKey);

  const platform::ApplicationIndex& index = installedBundles();
  const std::string unknownText =
      platform::localizedString(platform_.mainBundle, "UNKNOWN", *platform_.env);
  // Kept only for the apps found, as the list goes: the first record seen of an identifier is
  // its first record.
  FirstRecords records;
  std::vector<InstalledAppItem> found;
  for (const ShelvoItem& record : allShelvoItems) {
    const std::string& identifier = record.id;
    const platform::Bundle* bundle = index.bundleWithIdentifier(identifier);
    if (bundle == nullptr) continue;
    const std::string appUrl = fileURLForFolder(bundle->path().string());
    logger.debug("App URL found: %{public}s", {appUrl});
    if (isInIgnoredLocation(bundle->path(), platform_.root)) {
      logger.debug("App is ignored because it was found in another location: %{public}s", {appUrl});
      continue;
    }

    std::optional<std::string> installedVersion = bundle->infoString("CFBundleShortVersionString");
    if (!installedVersion) {
      logger.debug("App %{public}s does not have a version, falling back to build number...",
                   {identifier});
      installedVersion = bundle->infoString("CFBundleVersion");
    }
    std::string newVersion = unknownText;
    const std::string shownVersion = installedVersion.value_or("Unknown");
    logger.debug("App %{public}s was found with version: %{public}s", {identifier, shownVersion});

    const ShelvoItem& service = *records.try_emplace(identifier, &record).first->second;
    bool updateAvailable = false;
    if (service.lastKnownVersion) {
      newVersion = *service.lastKnownVersion;
      if (platform::compareNumerically(newVersion, installedVersion.value_or("")) ==
          platform::ComparisonResult::Descending) {
        logger.debug("Update available for %{public}s: %{public}s (current) %{public}s (new)",
                     {identifier, shownVersion, newVersion});
        updateAvailable = true;
      }
    }
    bool sourceIsMAS = false;
    if (platform_.env->exists(platform::appStoreReceiptPath(*bundle))) {
      logger.debug("Install source for %{public}s is Mac App Store or VPP", {identifier});
      sourceIsMAS = true;
      updateAvailable = false;
    }
    if (service.updateInterval && *service.updateInterval == 0) {
      logger.debug("Updates are disabled for %{public}s, update will be hidden", {identifier});
      updateAvailable = false;
    }
    if (exclusions &&
        std::find(exclusions->begin(), exclusions->end(), identifier) != exclusions->end()) {
      logger.debug(
          "App with Bundle ID of %{public}s is excluded from updates, update will be hidden",
          {identifier});
      updateAvailable = false;
    }
    if (identifier == kDesktopAppIdentifier) continue;
    found.push_back({identifier, record.name.value_or("Unknown"), record.iconThumbnail.value_or(""),
                     shownVersion, newVersion, updateAvailable, appUrl, sourceIsMAS});
  }
  installedApps = std::move(found);
  updatesAvailable.clear();
  std::copy_if(installedApps.begin(), installedApps.end(), std::back_inserter(updatesAvailable),
               [](const InstalledAppItem& item) { return item.updateAvailable; });
  printSummary(records);
  storeUpdates();
}

void AppUpdateChecker::printSummary(const FirstRecords& records) const {
  platform_.console->printLine("WARNING: This feature is experimental");
  platform_.console->printLine("");
  if (updatesAvailable.empty()) {
    platform_.console->printLine("No app updates found");
    return;
  }
  platform_.console->printLine("App updates found: " + std::to_string(updatesAvailable.size()));
  for (const auto& update : updatesAvailable) {
    auto found = records.find(update.id);
    const ShelvoItem* service = found != records.end() ? found->second : nullptr;
    std::string offered =
        service != nullptr && service->lastKnownVersion ? *service->lastKnownVersion : "Unknown";
    platform_.console->printLine("- " + update.name + ", " + update.version + " > " + offered);
  }
}

void AppUpdateChecker::storeUpdates() {
  if (platform_.user.name == "root" || !defaults) return;
  auto stored = defaults->setObject(kUpdateDetailsKey,
                                    platform::makeData(encodeInstalledAppItems(updatesAvailable)));
  if (stored) {
    stored = defaults->setObject(
        kUpdatesKey, platform::makeInteger(static_cast<std::int64_t>(updatesAvailable.size())));
  }
  if (!stored) {
    // The desktop app would go on showing an old result: say why it was not replaced.
    logger.error("Could not store the update check result: %{public}s", {stored.error().message});
    platform_.errorConsole->printLine("shelvo: could not store the update check result: " +
                                      stored.error().message);
  }
}

}  // namespace shelvo
