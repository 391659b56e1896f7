#include "agent/update-check/shelvo_item.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <variant>

namespace shelvo {
namespace {

using nlohmann::json;

// The fields an element may carry; any other key is passed over.
enum Field : std::size_t {
  kBundleID,
  kName,
  kDescription,
  kDeveloperID,
  kCodeRequirement,
  kIcon,
  kIconThumbnail,
  kUpdateInterval,
  kVersion,
  kVersionDate,
  kDateCreated,
  kFieldCount,
};

constexpr std::array<std::string_view, kFieldCount> kFieldKeys{
    "bundle_id",        "name",         "description",    "developer_id",
    "code_requirement", "icon",         "icon_thumbnail", "update_interval",
    "version",          "version_date", "date_created"};

// A value of no field's type: true, false, an object or an array.
struct OtherValue {};

// A field's value as the list gave it (monostate while the key is absent); a later value of the
// same key replaces an earlier one.
using FieldValue = std::variant<std::monostate, std::nullptr_t, std::string, std::int64_t,
                                std::uint64_t, double, OtherValue>;

// Reads the optional fields of one element, noting whether any breaks the rules: one such
// element ends the decoding of the whole list. Null is absent.
class FieldReader {
 public:
  explicit FieldReader(std::array<FieldValue, kFieldCount>& fields) : fields_(fields) {}
  bool valid() const { return valid_; }

  std::optional<std::string> string(Field field) {
    FieldValue& value = fields_[field];
    if (absent(value)) return std::nullopt;
    if (auto* text = std::get_if<std::string>(&value)) return std::move(*text);
    return violation<std::string>();
  }

  std::optional<std::int64_t> integer(Field field) {
    const FieldValue& value = fields_[field];
    if (absent(value)) return std::nullopt;
    if (auto* number = std::get_if<std::int64_t>(&value)) return *number;
    if (auto* number = std::get_if<std::uint64_t>(&value);
        number && *number <= static_cast<std::uint64_t>(INT64_MAX)) {
      return static_cast<std::int64_t>(*number);
    }
    // A float that holds a whole number decodes as an integer; a fraction does not, nor does a
    // number beyond the integer's range (the conversion would be undefined).
    if (auto* number = std::get_if<double>(&value);
        number && *number >= -0x1p63 && *number < 0x1p63 && std::trunc(*number) == *number) {
      return static_cast<std::int64_t>(*number);
    }
    return violation<std::int64_t>();
  }

  std::optional<ServiceDate> date(Field field) {
    auto text = string(field);
    if (!text) return std::nullopt;
    auto date = parseServiceDate(*text);
    if (!date) return violation<ServiceDate>();
    return date;
  }

 private:
  static bool absent(const FieldValue& value) {
    return std::holds_alternative<std::monostate>(value) ||
           std::holds_alternative<std::nullptr_t>(value);
  }

  template <typename T>
  std::optional<T> violation() {
    valid_ = false;
    return std::nullopt;
  }

  std::array<FieldValue, kFieldCount>& fields_;
  bool valid_ = true;
};

std::optional<ShelvoItem> decodeItem(std::array<FieldValue, kFieldCount>& fields) {
  auto* id = std::get_if<std::string>(&fields[kBundleID]);
  if (id == nullptr) return std::nullopt;
  ShelvoItem item;
  item.id = std::move(*id);
  FieldReader reader(fields);
  item.name = reader.string(kName);
  item.description = reader.string(kDescription);
  item.developerID = reader.string(kDeveloperID);
  item.codeRequirement = reader.string(kCodeRequirement);
  item.icon = reader.string(kIcon);
  item.iconThumbnail = reader.string(kIconThumbnail);
  item.updateInterval = reader.integer(kUpdateInterval);
  item.lastKnownVersion = reader.string(kVersion);
  item.lastKnownVersionDate = reader.date(kVersionDate);
  item.dateCreated = reader.date(kDateCreated);
  if (!reader.valid()) return std::nullopt;
  return item;
}

// Builds the records as the parser reads the text, without a document in between: a list of
// fifty thousand apps took more time to build and free as a document than to read. Returning
// false ends the parse: the text is not a list of objects, or an element breaks the rules.
class AppListReader final : public nlohmann::json_sax<json> {
 public:
  std::vector<ShelvoItem> items;

  bool null() override { return value(nullptr); }
  bool boolean(bool) override { return value(OtherValue{}); }
  bool number_integer(number_integer_t number) override { return value(number); }
  bool number_unsigned(number_unsigned_t number) override { return value(number); }
  bool number_float(number_float_t number, const string_t&) override { return value(number); }
  bool string(string_t& text) override { return value(std::move(text)); }
  bool binary(binary_t&) override { return value(OtherValue{}); }

  bool start_object(std::size_t) override {
    if (depth_ == kElementDepth) {
      fields_ = {};
      current_.reset();
    } else if (!value(OtherValue{})) {
      return false;
    }
    ++depth_;
    return true;
  }
  bool key(string_t& name) override {
    if (depth_ != kFieldDepth) return true;
    auto known = std::find(kFieldKeys.begin(), kFieldKeys.end(), name);
    current_.reset();
    if (known != kFieldKeys.end()) current_ = static_cast<std::size_t>(known - kFieldKeys.begin());
    return true;
  }
  bool end_object() override {
    --depth_;
    if (depth_ != kElementDepth) return true;
    auto item = decodeItem(fields_);
    if (!item) return false;
    items.push_back(std::move(*item));
    return true;
  }

  bool start_array(std::size_t) override {
    if (depth_ != 0 && !value(OtherValue{})) return false;
    ++depth_;
    return true;
  }
  bool end_array() override {
    --depth_;
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  static constexpr int kElementDepth = 1;  // inside the list
  static constexpr int kFieldDepth = 2;    // inside one element

  // A value where the parser stands: the list itself (an array) is the only value allowed at the
  // top, every element must be an object, and inside an element only a known key's value is
  // kept; deeper values belong to a field's container and are passed over.
  bool value(FieldValue read) {
    if (depth_ < kFieldDepth) return false;
    if (depth_ == kFieldDepth && current_) fields_[*current_] = std::move(read);
    return true;
  }

  int depth_ = 0;
  std::array<FieldValue, kFieldCount> fields_;
  std::optional<std::size_t> current_;
};

}  // namespace

std::optional<std::vector<ShelvoItem>> decodeShelvoItems(std::string_view text) {
  AppListReader reader;
  if (!json::sax_parse(text.begin(), text.end(), &reader)) return std::nullopt;
  return std::move(reader.items);
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
