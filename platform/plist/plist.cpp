#include "platform/plist/plist.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/plist/plist_guard.h"

namespace shelvo::platform {

Plist parsePlist(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return nullptr;
  if (!checkPlistShape(bytes)) return nullptr;
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  return Plist(root);
}

std::string toBinaryPlist(plist_t node) {
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(node, &bytes, &length);
  std::string result(bytes != nullptr ? bytes : "", bytes != nullptr ? length : 0);
  plist_to_bin_free(bytes);
  return result;
}

std::string toXmlPlist(plist_t node) {
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_xml(node, &bytes, &length);
  std::string result(bytes != nullptr ? bytes : "", bytes != nullptr ? length : 0);
  plist_to_xml_free(bytes);
  return result;
}

Plist makeString(std::string_view value) {
  return Plist(plist_new_string(std::string(value).c_str()));
}

// libplist 2.2 keeps every integer as 64 unsigned bits and writes them as signed, exactly the
// platform's encoding of negative integers, so signed values round-trip through a cast.
Plist makeInteger(std::int64_t value) {
  return Plist(plist_new_uint(static_cast<uint64_t>(value)));
}

Plist makeBool(bool value) {
  return Plist(plist_new_bool(value ? 1 : 0));
}

Plist makeData(std::string_view bytes) {
  return Plist(plist_new_data(bytes.data(), bytes.size()));
}

Plist makeStringArray(const std::vector<std::string>& values) {
  Plist array(plist_new_array());
  for (const auto& value : values)
    plist_array_append_item(array.get(), plist_new_string(value.c_str()));
  return array;
}

Plist makeDictionary() {
  return Plist(plist_new_dict());
}

Plist copyPlist(plist_t node) {
  return Plist(node != nullptr ? plist_copy(node) : nullptr);
}

bool isDictionary(plist_t node) {
  return node != nullptr && plist_get_node_type(node) == PLIST_DICT;
}

std::optional<std::string> stringValue(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  if (text == nullptr) return std::string();
  // libplist 2.2 keeps the length the list declared but copies the text only up to a NUL in it:
  // read no further than the copy.
  return std::string(text, ::strnlen(text, static_cast<std::size_t>(length)));
}

std::optional<std::int64_t> integerValue(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_UINT) return std::nullopt;
  uint64_t value = 0;
  plist_get_uint_val(node, &value);
  return static_cast<std::int64_t>(value);
}

std::optional<bool> boolValue(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_BOOLEAN) return std::nullopt;
  uint8_t value = 0;
  plist_get_bool_val(node, &value);
  return value != 0;
}

std::optional<double> realValue(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_REAL) return std::nullopt;
  double value = 0;
  plist_get_real_val(node, &value);
  return value;
}

std::optional<std::string> dataValue(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) return std::nullopt;
  char* bytes = nullptr;
  uint64_t length = 0;
  plist_get_data_val(node, &bytes, &length);
  std::string result(bytes != nullptr ? bytes : "", bytes != nullptr ? length : 0);
  std::free(bytes);
  return result;
}

plist_t dictionaryItem(plist_t dictionary, const std::string& key) {
  if (!isDictionary(dictionary)) return nullptr;
  return plist_dict_get_item(dictionary, key.c_str());
}

std::vector<std::string> dictionaryKeys(plist_t dictionary) {
  std::vector<std::string> keys;
  if (!isDictionary(dictionary)) return keys;
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(dictionary, &iter);
  while (iter != nullptr) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(dictionary, iter, &key, &value);
    if (key == nullptr) break;
    keys.emplace_back(key);
    std::free(key);
  }
  std::free(iter);
  return keys;
}

}  // namespace shelvo::platform
