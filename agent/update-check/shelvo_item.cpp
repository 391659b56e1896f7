#include "agent/update-check/shelvo_item.h"

#include <nlohmann/json.hpp>

#include <functional>

namespace shelvo {
namespace {

using nlohmann::json;

const json* present(const json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end() || found->is_null()) return nullptr;
  return &*found;
}

// Reads the optional fields of one element, noting whether any breaks the rules: one such
// element ends the decoding of the whole list.
class FieldReader {
 public:
  explicit FieldReader(const json& object) : object_(object) {}
  bool valid() const { return valid_; }

  std::optional<std::string> string(const char* key) {
    const json* value = present(object_, key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_string()) return violation<std::string>();
    return value->get<std::string>();
  }

  std::optional<std::int64_t> integer(const char* key) {
    const json* value = present(object_, key);
    if (value == nullptr) return std::nullopt;
    if (value->is_number_integer()) {
      if (value->is_number_unsigned() &&
          value->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
        return violation<std::int64_t>();
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
    return violation<std::int64_t>();
  }

  std::optional<ServiceDate> date(const char* key) {
    auto text = string(key);
    if (!text) return std::nullopt;
    auto date = parseServiceDate(*text);
    if (!date) return violation<ServiceDate>();
    return date;
  }

 private:
  template <typename T>
  std::optional<T> violation() {
    valid_ = false;
    return std::nullopt;
  }

  const json& object_;
  bool valid_ = true;
};

std::optional<ShelvoItem> decodeItem(const json& object) {
  if (!object.is_object()) return std::nullopt;
  const json* id = present(object, "bundle_id");
  if (id == nullptr || !id->is_string()) return std::nullopt;
  FieldReader fields(object);
  ShelvoItem item;
  item.id = id->get<std::string>();
  item.name = fields.string("name");
  item.description = fields.string("description");
  item.developerID = fields.string("developer_id");
  item.codeRequirement = fields.string("code_requirement");
  item.icon = fields.string("icon");
  item.iconThumbnail = fields.string("icon_thumbnail");
  item.updateInterval = fields.integer("update_interval");
  item.lastKnownVersion = fields.string("version");
  item.lastKnownVersionDate = fields.date("version_date");
  item.dateCreated = fields.date("date_created");
  if (!fields.valid()) return std::nullopt;
  return item;
}

}  // namespace

std::optional<std::vector<ShelvoItem>> decodeShelvoItems(std::string_view text) {
  json document = json::parse(text, nullptr, false);
  if (document.is_discarded() || !document.is_array()) return std::nullopt;
  std::vector<ShelvoItem> items;
  items.reserve(document.size());
  for (const auto& element : document) {
    auto item = decodeItem(element);
    if (!item) return std::nullopt;
    items.push_back(std::move(*item));
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
