#include "platform/bundle/application_index.h"

#include "platform/env/env.h"

#include <algorithm>
#include <cstdlib>

namespace shelvo::platform {
namespace {

// Entries of a folder in name order, so the search order does not depend on the filesystem.
std::vector<std::filesystem::directory_entry> sortedEntries(const std::filesystem::path& folder) {
  std::vector<std::filesystem::directory_entry> entries;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    entries.push_back(*it);
  }
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
  return entries;
}

bool isFolder(const std::filesystem::directory_entry& entry) {
  std::error_code error;
  return entry.is_directory(error);
}

}  // namespace

std::vector<std::filesystem::path> ApplicationIndex::searchFolders(const RootPrefix& root,
                                                                   const Env& env) {
  std::vector<std::filesystem::path> folders;
  if (auto configured = env.variable("SHELVO_APPLICATIONS_PATH");
      configured && !configured->empty()) {
    std::string_view list(*configured);
    while (!list.empty()) {
      std::string_view folder = list.substr(0, list.find(':'));
      if (!folder.empty()) folders.emplace_back(folder);
      list.remove_prefix(std::min(list.size(), folder.size() + 1));
    }
    return folders;
  }
  folders.push_back(root.resolve("/Applications"));
  for (const char* parent : {"/Users", "/Volumes"}) {
    for (const auto& entry : sortedEntries(root.resolve(parent))) {
      if (isFolder(entry)) folders.push_back(entry.path() / "Applications");
    }
  }
  return folders;
}

ApplicationIndex ApplicationIndex::build(const std::vector<std::filesystem::path>& folders) {
  ApplicationIndex index;
  for (const auto& folder : folders) index.addBundlesIn(folder, true);
  return index;
}

void ApplicationIndex::addBundlesIn(const std::filesystem::path& folder, bool descend) {
  for (const auto& entry : sortedEntries(folder)) {
    if (!isFolder(entry)) continue;
    if (entry.path().extension() != ".app") {
      if (descend) addBundlesIn(entry.path(), false);
      continue;
    }
    auto bundle = Bundle::atPath(entry.path());
    if (!bundle) continue;
    auto identifier = bundle->bundleIdentifier();
    if (identifier) bundles_.try_emplace(*identifier, std::move(*bundle));
  }
}

const Bundle* ApplicationIndex::bundleWithIdentifier(const std::string& identifier) const {
  auto found = bundles_.find(identifier);
  return found != bundles_.end() ? &found->second : nullptr;
}

std::filesystem::path appStoreReceiptPath(const Bundle& bundle) {
  return bundle.path() / "Contents" / "_MASReceipt" / "receipt";
}

}  // namespace shelvo::platform
