#include "agent/update-check/shelvo_item.h"

#include <nlohmann/json.hpp>

#include <functional>

namespace shelvo {
namespace {

using nlohmann::json;

// Signals an element that breaks the rules; it ends the decoding of the whole list.
struct Violation {};

const json* present(const json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end() || found->is_null()) return nullptr;
  return &*found;
}

std::optional<std::string> optionalString(const json& object, const char* key) {
  const json* value = present(object, key);
  if (value == nullptr) return std::nullopt;
  if (!value->is_string()) throw Violation{};
  return value->get<std::string>();
}

std::optional<std::int64_t> optionalInteger(const json& object, const char* key) {
  const json* value = present(object, key);
  if (value == nullptr) return std::nullopt;
  if (value->is_number_integer()) {
    if (value->is_number_unsigned() &&
        value->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
      throw Violation{};
    }
    return value->get<std::int64_t>();
  }
  // A float that holds a whole number decodes as an integer; a fraction does not.
  if (value->is_number_float()) {
    double number = value->get<double>();
    if (number == static_cast<double>(static_cast<std::int64_t>(number))) {
      return static_cast<std::int64_t>(number);
    }
  }
  throw Violation{};
}

std::optional<ServiceDate> optionalDate(const json& object, const char* key) {
  auto text = optionalString(object, key);
  if (!text) return std::nullopt;
  auto date = parseServiceDate(*text);
  if (!date) throw Violation{};
  return date;
}

ShelvoItem decodeItem(const json& object) {
  if (!object.is_object()) throw Violation{};
  const json* id = present(object, "bundle_id");
  if (id == nullptr || !id->is_string()) throw Violation{};
  ShelvoItem item;
  item.id = id->get<std::string>();
  item.name = optionalString(object, "name");
  item.description = optionalString(object, "description");
  item.developerID = optionalString(object, "developer_id");
  item.codeRequirement = optionalString(object, "code_requirement");
  item.icon = optionalString(object, "icon");
  item.iconThumbnail = optionalString(object, "icon_thumbnail");
  item.updateInterval = optionalInteger(object, "update_interval");
  item.lastKnownVersion = optionalString(object, "version");
  item.lastKnownVersionDate = optionalDate(object, "version_date");
  item.dateCreated = optionalDate(object, "date_created");
  return item;
}

}  // namespace

std::optional<std::vector<ShelvoItem>> decodeShelvoItems(std::string_view text) {
  json document = json::parse(text, nullptr, false);
  if (document.is_discarded() || !document.is_array()) return std::nullopt;
  std::vector<ShelvoItem> items;
  items.reserve(document.size());
  try {
    for (const auto& element : document) items.push_back(decodeItem(element));
  } catch (const Violation&) {
    return std::nullopt;
  }
  return items;
}

}  // namespace shelvo

namespace {

template <typename T>
void combine(std::size_t& seed, const std::optional<T>& value) {
  std::size_t h = value ? std::hash<T>{}(*value) + 1 : 0;
  seed ^= h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

}  // namespace

template <>
struct std::hash<shelvo::ServiceDate> {
  std::size_t operator()(const shelvo::ServiceDate& date) const noexcept {
    return std::hash<int>{}(date.year * 10000 + date.month * 100 + date.day);
  }
};

std::size_t std::hash<shelvo::ShelvoItem>::operator()(
    const shelvo::ShelvoItem& item) const noexcept {
  std::size_t seed = std::hash<std::string>{}(item.id);
  combine(seed, item.name);
  combine(seed, item.description);
  combine(seed, item.developerID);
  combine(seed, item.codeRequirement);
  combine(seed, item.icon);
  combine(seed, item.iconThumbnail);
  combine(seed, item.updateInterval);
  combine(seed, item.lastKnownVersion);
  combine(seed, item.lastKnownVersionDate);
  combine(seed, item.dateCreated);
  return seed;
}
