#include "platform/power/power_source.h"

#include "base/path.h"

namespace shelvo::platform {
namespace {

// sysfs attributes are one short line.
constexpr std::size_t kMaxAttribute = 4096;

std::string attribute(const Env& env, const Path& supply, const char* name) {
  auto text = env.readFile(supply / name, kMaxAttribute);
  if (!text) return "";
  std::string value = *text;
  while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
  return value;
}

bool isLinePower(const std::string& type) {
  return type == "Mains" || type.starts_with("USB") || type == "Wireless" || type == "BrickID";
}

}  // namespace

bool runsOnBattery(const Env& env, const RootPrefix& root) {
  bool discharging = false;
  for (const auto& supply : env.listFolder(root.resolve("/sys/class/power_supply"))) {
    std::string type = attribute(env, supply, "type");
    if (isLinePower(type) && attribute(env, supply, "online") == "1") return false;
    if (type == "Battery" && attribute(env, supply, "scope") != "Device" &&
        attribute(env, supply, "status") == "Discharging") {
      discharging = true;
    }
  }
  return discharging;
}

}  // namespace shelvo::platform
