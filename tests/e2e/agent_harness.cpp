#include "tests/e2e/agent_harness.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/plist/plist.h"
#include "tests/support/paths.h"

namespace shelvo::test {

AgentHarness::AgentHarness() : logFile_(logs_ / "agent.log") {
  environment["SHELVO_ROOT"] = root.path().string();
  environment["SHELVO_LOG"] = "file:" + logFile_.string();
}

void AgentHarness::storeAuthorization(const std::string& value) {
  writePreference("ostrel.shelvo", "authorization", "-string", {value});
}

void AgentHarness::storeSharedAuthorization(const std::string& value) {
  writeTextFile(root / "etc/shelvo/ostrel.shelvo.plist", credentialPlist(value));
  for (const auto& folder : {root.path(), root / "etc", root / "etc/shelvo"})
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
}

void AgentHarness::use(const DemoService& service) {
  use(service.url(), service.caFile());
}

void AgentHarness::use(const std::string& url, const std::string& caFile) {
  environment["SHELVO_SERVICE_URL"] = url;
  environment["SHELVO_CA_FILE"] = caFile;
}

void AgentHarness::writePreference(const std::string& domain, const std::string& key,
                                   const std::string& type,
                                   const std::vector<std::string>& values) {
  std::vector<std::string> arguments{kDefaultsBinary, "write", domain, key, type};
  arguments.insert(arguments.end(), values.begin(), values.end());
  auto result = runProgram(arguments, {{"SHELVO_ROOT", root.path().string()}});
  if (result.exitStatus != 0) throw std::runtime_error("shelvo-defaults failed: " + result.err);
}

void AgentHarness::installAgentBundle(const std::string& version, const std::string& build) {
  platform::Plist info = platform::makeDictionary();
  plist_dict_set_item(info.get(), "CFBundleShortVersionString",
                      platform::makeString(version).release());
  plist_dict_set_item(info.get(), "CFBundleVersion", platform::makeString(build).release());
  writeTextFile(
      root / "Applications/Shelvo.app/Contents/Resources/Shelvo Agent.app/Contents/Info.plist",
      platform::toBinaryPlist(info.get()));
}

ProgramResult AgentHarness::run(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), kAgentBinary);
  return runProgram(arguments, environment);
}

ProgramResult AgentHarness::runAsNobody(std::vector<std::string> arguments) {
  return runProgram(nobodyCommand(std::move(arguments)), environment);
}

std::vector<std::string> AgentHarness::nobodyCommand(std::vector<std::string> arguments) {
  namespace fs = std::filesystem;
  const auto open = fs::perms(0755);
  fs::permissions(root.path(), open);
  fs::permissions(logs_.path(), open);
  if (!fs::exists(logFile_)) writeTextFile(logFile_, "");
  fs::permissions(logFile_, fs::perms(0666));
  auto copy = root / "usr/bin/shelvo";
  fs::create_directories(copy.parent_path());
  fs::copy_file(kAgentBinary, copy, fs::copy_options::overwrite_existing);
  for (auto folder : {root / "usr", root / "usr/bin"}) fs::permissions(folder, open);
  // nobody's home, /nonexistent, below the root and owned by nobody.
  auto home = root / "nonexistent";
  fs::create_directories(home);
  runProgram({"chown", "nobody:nogroup", home.string()}, {});
  arguments.insert(arguments.begin(), copy.string());
  return asNobody(arguments);
}

std::unique_ptr<BackgroundProcess> AgentHarness::start(const std::vector<std::string>& arguments,
                                                       const std::filesystem::path& folder,
                                                       const std::string& name, bool asNobody) {
  std::vector<std::string> command{"sh", "-c",
                                   "exec \"$@\" > " + (folder / (name + ".out")).string() + " 2> " +
                                       (folder / (name + ".err")).string(),
                                   "sh"};
  std::vector<std::string> agent{kAgentBinary};
  agent.insert(agent.end(), arguments.begin(), arguments.end());
  for (auto& part : asNobody ? nobodyCommand(arguments) : agent) command.push_back(part);
  return std::make_unique<BackgroundProcess>(command, environment);
}

std::vector<nlohmann::json> AgentHarness::runRecords() const {
  std::vector<nlohmann::json> found;
  std::filesystem::path folder = root / "var/lib/shelvo/runs";
  if (!std::filesystem::exists(folder)) return found;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".json")
      found.push_back(nlohmann::json::parse(readTextFile(entry.path())));
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a["started"] < b["started"]; });
  return found;
}

std::vector<nlohmann::json> AgentHarness::logEntries() const {
  return jsonLines(logFile_);
}

std::vector<std::string> AgentHarness::logMessages(const std::string& level) const {
  std::vector<std::string> messages;
  for (const auto& entry : logEntries())
    if (level.empty() || entry["level"] == level) messages.push_back(entry["message"]);
  return messages;
}

bool AgentHarness::logged(const std::string& level, const std::string& message) const {
  for (const auto& entry : logEntries()) {
    if (entry["level"] == level && entry["message"] == message) return true;
  }
  return false;
}

std::string credentialPlist(const std::string& value) {
  return R"(<plist version="1.0"><dict><key>authorization</key><string>)" + value +
         "</string></dict></plist>";
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<nlohmann::json> jsonLines(const std::filesystem::path& file) {
  std::vector<nlohmann::json> entries;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) entries.push_back(nlohmann::json::parse(line));
  return entries;
}

std::unique_ptr<BackgroundProcess> startStandIn(const std::string& binary,
                                                std::vector<std::string> arguments,
                                                const std::string& busAddress,
                                                const std::filesystem::path& folder) {
  std::filesystem::path ready = folder / "ready-0";
  for (int next = 1; std::filesystem::exists(ready); ++next)
    ready = folder / ("ready-" + std::to_string(next));
  arguments.insert(arguments.begin(), {binary, ready.string()});
  auto process = std::make_unique<BackgroundProcess>(
      arguments, std::map<std::string, std::string>{{"DBUS_SYSTEM_BUS_ADDRESS", busAddress},
                                                    {"DBUS_SESSION_BUS_ADDRESS", busAddress}});
  awaitFileLine(ready.string());
  return process;
}

DemoService::DemoService() {
  std::filesystem::create_directories(folder_ / "scripts");
  setAppList("[]");
  process_ = std::make_unique<BackgroundProcess>(
      std::vector<std::string>{kDemoServiceBinary, "--scripts", (folder_ / "scripts").string(),
                               "--credential", "demo-credential", "--ca-out", caFile(),
                               "--ready-file", (folder_ / "ready").string(), "--request-log",
                               (folder_ / "requests.log").string(), "--apps",
                               (folder_ / "apps.json").string()},
      std::map<std::string, std::string>{}, (folder_ / "service.out").string());
  url_ = awaitFileLine((folder_ / "ready").string());
}

void DemoService::addScript(const std::string& name, const std::string& text) {
  writeTextFile(folder_ / "scripts" / (name + ".zsh"), text);
}

void DemoService::setAppList(const std::string& json) {
  writeTextFile(folder_ / "apps.json", json);
}

std::vector<nlohmann::json> DemoService::requests() const {
  return jsonLines(folder_ / "requests.log");
}

}  // namespace shelvo::test
