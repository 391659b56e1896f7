#include "tests/e2e/agent_harness.h"

#include <fstream>

#include "tests/support/paths.h"

namespace shelvo::test {

AgentHarness::AgentHarness() : logFile_(logs_ / "agent.log") {
  environment["SHELVO_ROOT"] = root.path().string();
  environment["SHELVO_LOG"] = "file:" + logFile_.string();
}

void AgentHarness::storeAuthorization(const std::string& value) {
  writePreference("ostrel.shelvo", "authorization", "-string", {value});
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
  writeTextFile(
      root / "Applications/Shelvo.app/Contents/Resources/Shelvo Agent.app/Contents/Info.plist",
      R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CFBundleShortVersionString</key><string>)" +
          version + R"(</string>
<key>CFBundleVersion</key><string>)" +
          build + R"(</string>
</dict></plist>)");
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

std::vector<nlohmann::json> AgentHarness::logEntries() const {
  std::vector<nlohmann::json> entries;
  std::ifstream in(logFile_);
  for (std::string line; std::getline(in, line);) entries.push_back(nlohmann::json::parse(line));
  return entries;
}

std::vector<std::string> AgentHarness::logMessages() const {
  std::vector<std::string> messages;
  for (const auto& entry : logEntries()) messages.push_back(entry["message"]);
  return messages;
}

bool AgentHarness::logged(const std::string& level, const std::string& message) const {
  for (const auto& entry : logEntries()) {
    if (entry["level"] == level && entry["message"] == message) return true;
  }
  return false;
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
  std::vector<nlohmann::json> requests;
  std::ifstream in(folder_ / "requests.log");
  for (std::string line; std::getline(in, line);) requests.push_back(nlohmann::json::parse(line));
  return requests;
}

std::map<std::string, std::string> DemoService::agentEnvironment() const {
  return {{"SHELVO_SERVICE_URL", url_}, {"SHELVO_CA_FILE", caFile()}};
}

}  // namespace shelvo::test
