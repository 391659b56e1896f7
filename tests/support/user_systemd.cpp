#include "tests/support/user_systemd.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kManagerBinary = "/lib/systemd/systemd";

// Waits for the manager's READY=1; a generous bound, as a busy machine starts it slowly.
bool awaitReady(const NotifySocket& notify, BackgroundProcess& manager) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    std::string text = notify.next(std::chrono::milliseconds(200));
    if (text.starts_with("READY=1") || text.find("\nREADY=1") != std::string::npos) return true;
    if (text.empty() && manager.waitForExit(std::chrono::milliseconds(0))) return false;
  }
  return false;
}

}  // namespace

NotifySocket::NotifySocket(fs::path path)
    : path_(std::move(path)), fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
  if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) fd_.reset();
}

std::string NotifySocket::next(std::chrono::milliseconds timeout) const {
  pollfd ready{fd_.get(), POLLIN, 0};
  if (!fd_ || ::poll(&ready, 1, static_cast<int>(timeout.count())) != 1) return "";
  char message[4096];
  ssize_t got = ::recv(fd_.get(), message, sizeof(message), 0);
  return got > 0 ? std::string(message, static_cast<std::size_t>(got)) : "";
}

UserSystemd::UserSystemd(const fs::path& root) {
  if (::geteuid() != 0) {
    whyNotRunning_ = "a real systemd manager needs root (unshare and a tmpfs on /run/systemd)";
    return;
  }
  if (::access(kManagerBinary, X_OK) != 0) {
    whyNotRunning_ = std::string(kManagerBinary) + " is not installed";
    return;
  }
  fs::create_directories(folder_ / "home/.config");
  fs::create_directories(unitFolder());
  fs::create_directories(folder_ / "runtime");
  fs::permissions(folder_ / "runtime", fs::perms::owner_all);
  NotifySocket notify(folder_ / "notify");
  auto env = environment();
  env["NOTIFY_SOCKET"] = (folder_ / "notify").string();
  // The empty system/ folder makes the manager believe it runs on a booted systemd, inside
  // the namespace only.
  manager_ = std::make_unique<BackgroundProcess>(
      std::vector<std::string>{"unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
                               "mount -t tmpfs tmpfs /run/systemd && mkdir /run/systemd/system && "
                               "exec " +
                                   std::string(kManagerBinary) + " --user"},
      env, (folder_ / "manager.log").string());
  if (!awaitReady(notify, *manager_)) {
    whyNotRunning_ = "systemd --user did not start in a private mount namespace: " +
                     readTextFile(folder_ / "manager.log");
    manager_.reset();
    return;
  }
  fs::create_directories(root / "run/systemd");
  fs::create_symlink(folder_ / "runtime/systemd/private", root / "run/systemd/private");
}

UserSystemd::~UserSystemd() = default;

fs::path UserSystemd::unitFolder() const {
  return folder_ / "home/.local/share/systemd/user";
}

std::map<std::string, std::string> UserSystemd::environment() const {
  return {{"HOME", (folder_ / "home").string()},
          {"XDG_RUNTIME_DIR", (folder_ / "runtime").string()},
          {"XDG_CONFIG_HOME", (folder_ / "home/.config").string()},
          {"XDG_DATA_HOME", (folder_ / "home/.local/share").string()},
          {"SYSTEMD_PAGER", ""},
          {"SYSTEMD_COLORS", "0"}};
}

ProgramResult UserSystemd::systemctl(std::vector<std::string> arguments) const {
  ProgramRun run;
  run.arguments = {"systemctl", "--user", "--no-ask-password"};
  run.arguments.insert(run.arguments.end(), arguments.begin(), arguments.end());
  run.environment = environment();
  run.unsetEnvironment = {"DBUS_SESSION_BUS_ADDRESS"};
  run.timeout = std::chrono::seconds(90);
  return runProgram(run);
}

void UserSystemd::reset(const std::vector<std::string>& units) const {
  std::vector<std::string> stop{"stop"};
  stop.insert(stop.end(), units.begin(), units.end());
  systemctl(stop);
  fs::remove_all(folder_ / "home/.config/systemd");
  fs::remove_all(folder_ / "runtime/systemd/user");
  fs::remove_all(folder_ / "runtime/systemd/transient");
  for (const auto& unit : units) fs::remove(unitFolder() / unit);
  systemctl({"daemon-reload"});
  systemctl({"reset-failed"});
}

}  // namespace shelvo::test
