#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/update-check/service_date.h"

namespace shelvo {

// One app as the service lists it. Only the bundle identifier is required.
struct ShelvoItem {
  std::string id;                                   // "bundle_id"
  std::optional<std::string> name;                  // "name"
  std::optional<std::string> description;           // "description"
  std::optional<std::string> developerID;           // "developer_id"
  std::optional<std::string> codeRequirement;       // "code_requirement"
  std::optional<std::string> icon;                  // "icon"
  std::optional<std::string> iconThumbnail;         // "icon_thumbnail"
  std::optional<std::int64_t> updateInterval;       // "update_interval"
  std::optional<std::string> lastKnownVersion;      // "version"
  std::optional<ServiceDate> lastKnownVersionDate;  // "version_date"
  std::optional<ServiceDate> dateCreated;           // "date_created"

  bool operator==(const ShelvoItem&) const = default;
};

// Decodes the service's JSON array of apps. One element that breaks the rules (a missing or
// non-string "bundle_id", a value of the wrong type, a date not in "dd-MM-yy") fails the whole
// list; JSON null counts as absent.
std::optional<std::vector<ShelvoItem>> decodeShelvoItems(std::string_view json);

}  // namespace shelvo

template <>
struct std::hash<shelvo::ShelvoItem> {
  std::size_t operator()(const shelvo::ShelvoItem& item) const noexcept;
};
