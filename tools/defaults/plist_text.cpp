#include "tools/defaults/plist_text.h"

#include <cctype>
#include <charconv>

#include "platform/plist/plist.h"

namespace shelvo::tools {
namespace {

std::string quoted(const std::string& text) {
  bool plain = !text.empty();
  for (unsigned char c : text) {
    if (!(std::isalnum(c) || c == '.' || c == '_' || c == '-' || c == '/')) plain = false;
  }
  if (plain) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    if (c == '\n') {
      out.append("\\n");
      continue;
    }
    out.push_back(c);
  }
  return out + "\"";
}

// The shortest text that reads back as the same number: 1.5, not 1.500000.
std::string real(double value) {
  char text[32];
  auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

std::string hexData(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex.push_back(kHex[c >> 4]);
    hex.push_back(kHex[c & 15]);
  }
  return "{length = " + std::to_string(bytes.size()) + ", bytes = 0x" + hex + "}";
}

// indent < 0: on one line.
std::string describe(plist_t node, int indent) {
  const bool lines = indent >= 0;
  const std::string pad = lines ? std::string(static_cast<std::size_t>(indent) * 4, ' ') : "";
  const std::string inner = lines ? std::string(static_cast<std::size_t>(indent + 1) * 4, ' ') : "";
  const char* newline = lines ? "\n" : " ";
  const int deeper = lines ? indent + 1 : -1;
  switch (plist_get_node_type(node)) {
    case PLIST_STRING:
      return quoted(*platform::stringValue(node));
    case PLIST_BOOLEAN:
      return *platform::boolValue(node) ? "1" : "0";
    case PLIST_UINT:
      return std::to_string(*platform::integerValue(node));
    case PLIST_REAL:
      return real(*platform::realValue(node));
    case PLIST_DATA:
      return hexData(*platform::dataValue(node));
    case PLIST_ARRAY: {
      std::string out = std::string("(") + newline;
      uint32_t count = plist_array_get_size(node);
      for (uint32_t i = 0; i < count; ++i) {
        out += inner + describe(plist_array_get_item(node, i), deeper);
        out += i + 1 < count ? std::string(",") + newline : std::string(newline);
      }
      return out + pad + ")";
    }
    case PLIST_DICT: {
      std::string out = std::string("{") + newline;
      for (const auto& key : platform::dictionaryKeys(node)) {
        out += inner + quoted(key) + " = " + describe(platform::dictionaryItem(node, key), deeper) +
               ";" + newline;
      }
      return out + pad + "}";
    }
    default:
      return "<unsupported value>";
  }
}

}  // namespace

std::string describePlist(plist_t node) {
  return describe(node, 0);
}

std::string describePlistInline(plist_t node) {
  return describe(node, -1);
}

std::string plistTypeName(plist_t node) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN:
      return "boolean";
    case PLIST_UINT:
      return "integer";
    case PLIST_REAL:
      return "float";
    case PLIST_STRING:
      return "string";
    case PLIST_DATA:
      return "data";
    case PLIST_ARRAY:
      return "array";
    case PLIST_DICT:
      return "dictionary";
    case PLIST_DATE:
      return "date";
    default:
      return "unknown";
  }
}

}  // namespace shelvo::tools
