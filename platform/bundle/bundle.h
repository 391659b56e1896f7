#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/plist/plist.h"

namespace shelvo::platform {

class Env;

// An .app bundle folder with its Contents/Info.plist.
class Bundle {
 public:
  // Absent when no folder exists at path. A folder without a readable Info.plist is a bundle
  // with an empty Info dictionary.
  static std::optional<Bundle> atPath(const Env& env, const std::filesystem::path& path);
  // The same for a folder known to be one, as a listing of folders gave it.
  static Bundle ofFolder(const Env& env, const std::filesystem::path& folder);

  // The bundle holding the running executable (X.app/Contents/MacOS/program), if any.
  static std::optional<Bundle> mainBundle(const Env& env);

  const std::filesystem::path& path() const { return path_; }
  // A string value of the Info dictionary; absent when missing or of another type.
  std::optional<std::string> infoString(const std::string& key) const;
  std::optional<std::string> bundleIdentifier() const { return infoString("CFBundleIdentifier"); }

 private:
  Bundle(std::filesystem::path path, std::shared_ptr<void> info)
      : path_(std::move(path)), info_(std::move(info)) {}

  std::filesystem::path path_;
  std::shared_ptr<void> info_;  // shared so bundles copy cheaply
};

// Reads Contents/Info.plist (XML or binary) of a bundle folder; null when missing or corrupt.
Plist readInfoDictionary(const Env& env, const std::filesystem::path& bundlePath);

}  // namespace shelvo::platform
