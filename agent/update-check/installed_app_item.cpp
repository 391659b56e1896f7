#include "agent/update-check/installed_app_item.h"

#include <nlohmann/json.hpp>

#include "platform/text/percent_encoding.h"

namespace shelvo {
namespace {

// The platform encoder's string escaping: quote, backslash and slash escaped, the short forms
// for \b \f \n \r \t, other control characters as \u00xx, everything else as raw UTF-8.
void appendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (char c : text) {
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '/':
        out.append("\\/");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out.append("\\u00");
          out.push_back(kHex[(c >> 4) & 0xF]);
          out.push_back(kHex[c & 0xF]);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
}

void appendMember(std::string& out, const char* key, std::string_view value) {
  appendJsonString(out, key);
  out.push_back(':');
  appendJsonString(out, value);
}

void appendMember(std::string& out, const char* key, bool value) {
  appendJsonString(out, key);
  out.append(value ? ":true" : ":false");
}

}  // namespace

std::string encodeInstalledAppItems(const std::vector<InstalledAppItem>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto& item = items[i];
    if (i > 0) out.push_back(',');
    out.push_back('{');
    appendMember(out, "id", item.id);
    out.push_back(',');
    appendMember(out, "name", item.name);
    out.push_back(',');
    appendMember(out, "icon", item.icon);
    out.push_back(',');
    appendMember(out, "version", item.version);
    out.push_back(',');
    appendMember(out, "newVersion", item.newVersion);
    out.push_back(',');
    appendMember(out, "updateAvailable", item.updateAvailable);
    out.push_back(',');
    appendMember(out, "appUrl", item.appUrl);
    out.push_back(',');
    appendMember(out, "sourceIsMAS", item.sourceIsMAS);
    out.push_back('}');
  }
  out.push_back(']');
  return out;
}

std::optional<std::vector<InstalledAppItem>> decodeInstalledAppItems(std::string_view text) {
  using nlohmann::json;
  json document = json::parse(text, nullptr, false);
  if (document.is_discarded() || !document.is_array()) return std::nullopt;
  std::vector<InstalledAppItem> items;
  for (const auto& object : document) {
    if (!object.is_object()) return std::nullopt;
    auto string = [&](const char* key) -> std::optional<std::string> {
      auto found = object.find(key);
      if (found == object.end() || !found->is_string()) return std::nullopt;
      return found->get<std::string>();
    };
    auto boolean = [&](const char* key) -> std::optional<bool> {
      auto found = object.find(key);
      if (found == object.end() || !found->is_boolean()) return std::nullopt;
      return found->get<bool>();
    };
    auto id = string("id");
    auto name = string("name");
    auto icon = string("icon");
    auto version = string("version");
    auto newVersion = string("newVersion");
    auto updateAvailable = boolean("updateAvailable");
    auto appUrl = string("appUrl");
    auto sourceIsMAS = boolean("sourceIsMAS");
    // An empty string is no URL.
    if (!id || !name || !icon || !version || !newVersion || !updateAvailable || !appUrl ||
        appUrl->empty() || !sourceIsMAS) {
      return std::nullopt;
    }
    items.push_back(
        {*id, *name, *icon, *version, *newVersion, *updateAvailable, *appUrl, *sourceIsMAS});
  }
  return items;
}

std::string fileURLForFolder(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    // The path-allowed set: the query-allowed set without ";" and "?".
    if (platform::isURLQueryAllowed(c) && c != ';' && c != '?') {
      url.push_back(static_cast<char>(c));
    } else {
      url.push_back('%');
      url.push_back(kHex[c >> 4]);
      url.push_back(kHex[c & 0xF]);
    }
  }
  if (url.back() != '/') url.push_back('/');
  return url;
}

}  // namespace shelvo
