#include "tools/defaults/explain.h"

#include <algorithm>
#include <vector>

#include "shared/build/build_settings.h"
#include "tools/defaults/plist_text.h"

namespace shelvo::tools {
namespace {

using Reading = platform::Preferences::LayerReading;

constexpr const char* kCredentialKey = "authorization";

// The settings the agent reads, shown even when nobody set them.
struct AgentSetting {
  const char* domain;
  const char* key;
};
constexpr AgentSetting kAgentSettings[] = {
    {"ostrel.shelvo", kCredentialKey},
    {"ostrel.shelvo", "UpdateInterval"},
    {"ostrel.shelvo", "HideUpdateNotifications"},
    {"ostrel.shelvo", "AllowUpdatesConstrainedNetworks"},
    {"ostrel.shelvo", "AllowUpdatesContrainedNetworks"},
    {"ostrel.shelvo", "ExcludeAppsUpdate"},
    {"ostrel.shelvo", "SkipUpdatesOnBattery"},
    {"ostrel.shelvo.agent", "LastUpdated"},
};

std::string stateOf(const Reading& layer) {
  switch (layer.state) {
    case Reading::State::Missing:
      return "missing";
    case Reading::State::Used:
      return "used";
    case Reading::State::Unreadable:
      return "unreadable: " + layer.reason + ": run with sudo";
    case Reading::State::Skipped:
      return "skipped: " + layer.reason;
    case Reading::State::Unusable:
      return "unusable: " + layer.reason;
  }
  return "";
}

// Rows of columns, each column as wide as its widest cell.
void printTable(const std::vector<std::vector<std::string>>& rows, std::ostream& out) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (widths.size() <= i) widths.push_back(0);
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  for (const auto& row : rows) {
    std::string line = "    ";
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << "\n";
  }
}

}  // namespace

void explainDomain(const platform::Preferences& preferences,
                   const std::optional<std::string>& serviceURL, std::ostream& out) {
  const std::string& domain = preferences.domain();
  if (domain == "ostrel.shelvo") out << serviceURLLine(serviceURL) << "\n";

  auto layers = preferences.readLayers();
  out << "Files of domain " << domain << ", the first holding a key wins:\n";
  std::vector<std::vector<std::string>> files;
  for (const auto& layer : layers)
    files.push_back({layer.layer, layer.file.string(), stateOf(layer)});
  printTable(files, out);

  std::vector<std::string> keys;
  for (const auto& setting : kAgentSettings) {
    if (domain == setting.domain) keys.push_back(setting.key);
  }
  for (const auto& layer : layers) {
    for (const auto& key : platform::dictionaryKeys(layer.dictionary.get())) {
      if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
    }
  }
  out << "Settings:\n";
  std::vector<std::vector<std::string>> settings;
  for (const auto& key : keys) {
    auto holder = std::find_if(layers.begin(), layers.end(), [&](const Reading& layer) {
      return platform::dictionaryItem(layer.dictionary.get(), key) != nullptr;
    });
    if (holder == layers.end()) {
      settings.push_back({key, key == kCredentialKey ? "absent" : "not set", ""});
      continue;
    }
    plist_t value = platform::dictionaryItem(holder->dictionary.get(), key);
    std::string shown = key == kCredentialKey
                            ? "present"
                            : describePlistInline(value) + " (" + plistTypeName(value) + ")";
    settings.push_back({key, shown, holder->file.string()});
  }
  if (settings.empty()) settings.push_back({"none"});
  printTable(settings, out);
}

}  // namespace shelvo::tools
