#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shelvo {

// One listed app as found on this machine, with the service's version and the update state.
struct InstalledAppItem {
  std::string id;
  std::string name;
  std::string icon;
  std::string version;
  std::string newVersion;
  bool updateAvailable = false;
  std::string appUrl;  // the bundle's file URL, absolute form ("file:///Applications/A.app/")
  bool sourceIsMAS = false;

  bool operator==(const InstalledAppItem&) const = default;
};

// Compact JSON as the platform's encoder writes it ("/" escaped as "\/"), exactly the eight
// keys per record.
std::string encodeInstalledAppItems(const std::vector<InstalledAppItem>& items);

// Decodes such an array; every key is required and typed.
std::optional<std::vector<InstalledAppItem>> decodeInstalledAppItems(std::string_view json);

// The file URL of a folder: "file://" and the percent-encoded path, ending in "/".
std::string fileURLForFolder(std::string_view path);

}  // namespace shelvo
