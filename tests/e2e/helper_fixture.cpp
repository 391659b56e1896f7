#include "tests/e2e/helper_fixture.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>

#include "tests/support/paths.h"

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<TempDir> gFixtures;

// Whether a Unix socket listens at path (its line in /proc/net/unix has the listening flag).
bool isListening(const std::string& path) {
  std::ifstream table("/proc/net/unix");
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string number, references, protocol, flags, type, state, inode, name;
    if (fields >> number >> references >> protocol >> flags >> type >> state >> inode >> name &&
        name == path && flags == "00010000") {
      return true;
    }
  }
  return false;
}

bool allThreadsStopped(pid_t pid) {
  fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  for (const auto& task : fs::directory_iterator(tasks, error)) {
    std::string stat = readTextFile(task.path() / "stat");
    auto close = stat.rfind(')');
    if (close == std::string::npos || stat.substr(close + 2, 1) != "T") return false;
  }
  return !error;
}

void mustRun(const std::vector<std::string>& command) {
  auto result = runProgram(command, {});
  if (result.exitStatus != 0)
    throw std::runtime_error(command.front() + " failed: " + result.err + result.out);
}

}  // namespace

void HelperTest::SetUpTestSuite() {
  mustRun({"groupadd", "-f", "--system", "shelvo-client"});
  gFixtures = std::make_unique<TempDir>();
  fs::permissions(gFixtures->path(), fs::perms(0755));
  mustRun(
      {fs::path(kSourceDir) / "tests/support/make-test-pki", (gFixtures->path() / "pki").string()});
  fs::create_directories(gFixtures->path() / "clients");
  fs::permissions(gFixtures->path() / "clients", fs::perms(0755));
  makeClient(client("good"), "ostrel.shelvo", "leaf", "intermediate");
  makeClient(client("otherid"), "ostrel.other", "leaf", "intermediate");
  makeClient(client("otherteam"), "ostrel.shelvo", "otherteam", "intermediate");
  makeClient(client("stranger"), "ostrel.shelvo", "stranger-leaf", "stranger-intermediate");
  makeClient(client("nomarker"), "ostrel.shelvo", "nomarker", "intermediate");
  makeClient(client("noeku"), "ostrel.shelvo", "noeku", "intermediate");
  makeClient(client("tampered"), "ostrel.shelvo", "leaf", "intermediate");
  std::ofstream(client("tampered"), std::ios::app) << '\0';
  fs::copy_file(kHelperTestClientBinary, client("unsigned"));
  mustRun({"chown", "root:shelvo-client", client("unsigned").string()});
  fs::permissions(client("unsigned"), fs::perms(02755));
}

void HelperTest::TearDownTestSuite() {
  gFixtures.reset();
}

void HelperTest::SetUp() {
  fs::permissions(root.path(), fs::perms(0755));
  fs::permissions(logs.path(), fs::perms(0755));
  fs::create_directories(root / "etc/shelvo/anchors");
  fs::copy_file(pki("root.pem"), root / "etc/shelvo/anchors/root.pem");
}

void HelperTest::TearDown() {
  if (HasFailure()) std::cerr << "helper log:\n" << readTextFile(logFile);
}

fs::path HelperTest::pki(const std::string& name) {
  return gFixtures->path() / "pki" / name;
}

fs::path HelperTest::client(const std::string& name) {
  return gFixtures->path() / "clients" / name;
}

void HelperTest::makeClient(const fs::path& path, const std::string& identifier,
                            const std::string& leaf, const std::string& chain) {
  fs::copy_file(kHelperTestClientBinary, path, fs::copy_options::overwrite_existing);
  mustRun({kCodesignBinary, "sign", "--identifier", identifier, "--key",
           pki(leaf + ".key").string(), "--cert", pki(leaf + ".pem").string(), "--chain",
           pki(chain + ".pem").string(), path.string()});
  mustRun({"chown", "root:shelvo-client", path.string()});
  fs::permissions(path, fs::perms(02755));
}

std::string HelperTest::socket() const {
  return (root / "run/ostrel.shelvo.helper.sock").string();
}

void HelperTest::startHelper(bool socketActivation) {
  fs::remove(socket());  // the last helper's
  std::map<std::string, std::string> environment{{"SHELVO_ROOT", root.path().string()},
                                                 {"SHELVO_LOG", "file:" + logFile.string()}};
  if (!peerLookup.empty()) environment["SHELVO_HELPER_PEER_LOOKUP"] = peerLookup;
  if (socketActivation) {
    fs::create_directories(root / "run");
    std::vector<std::string> arguments{"systemd-socket-activate", "-l", socket()};
    for (const auto& [name, value] : environment) {
      arguments.push_back("-E");
      arguments.push_back(name + "=" + value);
    }
    arguments.push_back(kHelperBinary);
    helper =
        std::make_unique<BackgroundProcess>(arguments, environment, (logs / "helper.out").string());
  } else {
    helper = std::make_unique<BackgroundProcess>(std::vector<std::string>{kHelperBinary},
                                                 environment, (logs / "helper.out").string());
  }
  // systemd-socket-activate makes the socket file before it listens, so wait for the listening;
  // the helper binds under another name and renames the socket into place once it listens.
  ASSERT_TRUE(
      eventually([&] { return socketActivation ? isListening(socket()) : fs::exists(socket()); }));
  // What the socket unit's SocketMode gives: everyone may connect.
  if (socketActivation) fs::permissions(socket(), fs::perms(0666));
}

void HelperTest::pauseHelper() {
  ::kill(helper->pid(), SIGSTOP);
  ASSERT_TRUE(eventually([&] { return allThreadsStopped(helper->pid()); }));
}

void HelperTest::resumeHelper() {
  ::kill(helper->pid(), SIGCONT);
}

std::vector<std::string> HelperTest::command(const std::string& name,
                                             std::vector<std::string> actions, bool asUser) const {
  fs::path program = name.find('/') == std::string::npos ? client(name) : fs::path(name);
  actions.insert(actions.begin(), {program.string(), socket()});
  return asUser ? asNobody(actions) : actions;
}

ProgramResult HelperTest::run(const std::string& name, std::vector<std::string> actions,
                              bool asUser) {
  return runProgram(command(name, std::move(actions), asUser), {});
}

std::vector<std::string> HelperTest::logged(const std::string& level) const {
  std::vector<std::string> messages;
  std::ifstream in(logFile);
  for (std::string line; std::getline(in, line);) {
    auto entry = nlohmann::json::parse(line, nullptr, false);
    if (!entry.is_discarded() && entry["level"] == level) messages.push_back(entry["message"]);
  }
  return messages;
}

bool HelperTest::hasLogged(const std::string& level, const std::string& message) const {
  auto messages = logged(level);
  return std::find(messages.begin(), messages.end(), message) != messages.end();
}

bool HelperTest::hasLoggedRefusal(const std::string& reasonPart) const {
  for (const auto& message : logged("error")) {
    if (message.starts_with("NSXPC client does not meet the requirements. ") &&
        message.find(reasonPart) != std::string::npos) {
      return true;
    }
  }
  return false;
}

std::unique_ptr<BackgroundProcess> HelperTest::startGenuine(int lastStatus) {
  auto genuine = std::make_unique<BackgroundProcess>(
      std::vector<std::string>{client("good").string(), socket(), "run:exit 0",
                               "await-file:" + (logs / "genuine.done").string(),
                               "run:exit " + std::to_string(lastStatus)},
      std::map<std::string, std::string>{}, (logs / "genuine.out").string());
  awaitFileLine((logs / "genuine.out").string(), 30000);
  return genuine;
}

std::string HelperTest::finishGenuine(BackgroundProcess& genuine) {
  writeTextFile(logs / "genuine.done", "");
  EXPECT_EQ(genuine.waitForExit(std::chrono::seconds(30)), 0);
  return readTextFile(logs / "genuine.out");
}

bool HelperTest::holds(const fs::path& file, const std::string& text) {
  return readTextFile(file).find(text) != std::string::npos;
}

long HelperTest::helperResidentKiB() const {
  // Under systemd-socket-activate the helper replaces it by exec, so the pid is the helper's.
  std::ifstream status("/proc/" + std::to_string(helper->pid()) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace shelvo::test
