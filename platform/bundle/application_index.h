#pragma once

#include <filesystem>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/bundle/bundle.h"
#include "platform/system/root_prefix.h"

namespace shelvo::platform {

class Env;

// The installed applications by bundle identifier, found in one pass over the application
// folders: the .app bundles in each folder and in its direct sub-folders, never inside a
// bundle. Where several bundles carry one identifier, the first in search order wins. A build
// asked to stop returns what it found so far.
class ApplicationIndex {
 public:
  static ApplicationIndex build(const Env& env, const std::vector<std::filesystem::path>& folders,
                                std::stop_token stop = {});

  // Applications, Users/*/Applications and Volumes/*/Applications under the root, or the
  // folders of SHELVO_APPLICATIONS_PATH when it is set.
  static std::vector<std::filesystem::path> searchFolders(const RootPrefix& root, const Env& env);

  const Bundle* bundleWithIdentifier(const std::string& identifier) const;
  std::size_t size() const { return bundles_.size(); }

 private:
  void addBundlesIn(const Env& env, const std::filesystem::path& folder, bool descend,
                    const std::stop_token& stop);

  std::unordered_map<std::string, Bundle> bundles_;
};

// Where an App Store receipt of the bundle would be.
std::filesystem::path appStoreReceiptPath(const Bundle& bundle);

}  // namespace shelvo::platform
