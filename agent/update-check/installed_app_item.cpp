#include "agent/update-check/installed_app_item.h"

#include <nlohmann/json.hpp>

#include "platform/text/percent_encoding.h"
#include "platform/text/utf8.h"

namespace shelvo {
namespace {

void appendJsonString(std::string& out, std::string_view text) {
  out.push_back('"');
  platform::appendJsonEscaped(out, text, platform::JsonSlashes::Escaped);
  out.push_back('"');
}

// A member of an object, after its separator ("{" for the first, "," for the others).
void appendMember(std::string& out, char separator, const char* key, std::string_view value) {
  out.push_back(separator);
  appendJsonString(out, key);
  out.push_back(':');
  appendJsonString(out, value);
}

void appendMember(std::string& out, char separator, const char* key, bool value) {
  out.push_back(separator);
  appendJsonString(out, key);
  out.append(value ? ":true" : ":false");
}

}  // namespace

std::string encodeInstalledAppItems(const std::vector<InstalledAppItem>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto& item = items[i];
    if (i > 0) out.push_back(',');
    appendMember(out, '{', "id", item.id);
    appendMember(out, ',', "name", item.name);
    appendMember(out, ',', "icon", item.icon);
    appendMember(out, ',', "version", item.version);
    appendMember(out, ',', "newVersion", item.newVersion);
    appendMember(out, ',', "updateAvailable", item.updateAvailable);
    appendMember(out, ',', "appUrl", item.appUrl);
    appendMember(out, ',', "sourceIsMAS", item.sourceIsMAS);
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
  return platform::fileURLForPath(path, true);
}

}  // namespace shelvo
