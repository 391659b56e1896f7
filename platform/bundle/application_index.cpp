#include "platform/bundle/application_index.h"

#include "platform/env/env.h"

#include <algorithm>

namespace shelvo::platform {
namespace {

// The sub-folders of a folder in name order, so the search order does not depend on the
// filesystem.
std::vector<std::filesystem::path> sortedFolders(const Env& env,
                                                 const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> folders = env.listSubfolders(folder);
  std::sort(folders.begin(), folders.end(),
            [](const auto& a, const auto& b) { return a.filename() < b.filename(); });
  return folders;
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
    for (const auto& entry : sortedFolders(env, root.resolve(parent))) {
      folders.push_back(entry / "Applications");
    }
  }
  return folders;
}

ApplicationIndex ApplicationIndex::build(const Env& env,
                                         const std::vector<std::filesystem::path>& folders,
                                         std::stop_token stop) {
  ApplicationIndex index;
  for (const auto& folder : folders) index.addBundlesIn(env, folder, true, stop);
  return index;
}

void ApplicationIndex::addBundlesIn(const Env& env, const std::filesystem::path& folder,
                                    bool descend, const std::stop_token& stop) {
  for (const auto& entry : sortedFolders(env, folder)) {
    if (stop.stop_requested()) return;
    if (entry.extension() != ".app") {
      if (descend) addBundlesIn(env, entry, false, stop);
      continue;
    }
    auto bundle = Bundle::ofFolder(env, entry);
    if (auto identifier = bundle.bundleIdentifier()) {
      bundles_.try_emplace(*identifier, std::move(bundle));
    }
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
