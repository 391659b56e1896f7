#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/background_process.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace shelvo::test {

// The built agent run against a scratch root with the file log sink.
class AgentHarness {
 public:
  AgentHarness();

  void storeAuthorization(const std::string& value = "demo-credential");
  // The credential in the any-user layer, with its folders open, so that every account reads it.
  void storeSharedAuthorization(const std::string& value = "x");
  // Points the agent at a service: the demo service, or a server whose CA is in caFile.
  void use(const class DemoService& service);
  void use(const std::string& url, const std::string& caFile);
  // Writes a key into the agent's (root's) user layer of a domain.
  void writePreference(const std::string& domain, const std::string& key, const std::string& type,
                       const std::vector<std::string>& values);
  void installAgentBundle(const std::string& version = "3.1", const std::string& build = "164");

  ProgramResult run(std::vector<std::string> arguments);
  // Runs a copy of the agent as the unprivileged user "nobody", whose home is made below the
  // root and whose log file it can write.
  ProgramResult runAsNobody(std::vector<std::string> arguments);
  // The agent (asNobody: such a copy) in the background, its standard output and error in files
  // name.out and name.err of folder.
  std::unique_ptr<BackgroundProcess> start(const std::vector<std::string>& arguments,
                                           const std::filesystem::path& folder,
                                           const std::string& name, bool asNobody = false);
  // The run records made so far, oldest first.
  std::vector<nlohmann::json> runRecords() const;
  // The messages logged so far, in order.
  std::vector<nlohmann::json> logEntries() const;
  // Those of one level, or of every level.
  std::vector<std::string> logMessages(const std::string& level = "") const;
  bool logged(const std::string& level, const std::string& message) const;

  std::map<std::string, std::string> environment;
  TempDir root;

 private:
  TempDir logs_;
  std::filesystem::path logFile_;

  // The command line that runs a copy of the agent as nobody.
  std::vector<std::string> nobodyCommand(std::vector<std::string> arguments);
};

// A settings file that holds the credential value.
std::string credentialPlist(const std::string& value);

// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);

// Each line of a file of JSON lines, parsed; none when the file is missing.
std::vector<nlohmann::json> jsonLines(const std::filesystem::path& file);

// A stand-in service (fake-logind, ...) on the bus at busAddress, once it says it is ready; its
// first arguments are its ready file (made in folder) and then arguments.
std::unique_ptr<BackgroundProcess> startStandIn(const std::string& binary,
                                                std::vector<std::string> arguments,
                                                const std::string& busAddress,
                                                const std::filesystem::path& folder);

// shelvo-demo-service in the background, serving scripts from a folder of its own.
class DemoService {
 public:
  DemoService();
  void addScript(const std::string& name, const std::string& text);
  void setAppList(const std::string& json);
  const std::string& url() const { return url_; }
  std::string caFile() const { return (folder_ / "ca.pem").string(); }
  std::vector<nlohmann::json> requests() const;

 private:
  TempDir folder_;
  std::unique_ptr<BackgroundProcess> process_;
  std::string url_;
};

// The agent with the credential stored, pointed at a demo service of its own.
class ServedAgentTest : public ::testing::Test {
 protected:
  ServedAgentTest() {
    agent.storeAuthorization();
    agent.use(service);
  }

  AgentHarness agent;
  DemoService service;
  TempDir scratch;
};

}  // namespace shelvo::test
