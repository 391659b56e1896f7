#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/env/unique_fd.h"
#include "tests/support/background_process.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace shelvo::test {

// A datagram socket of the kind systemd gives a service in NOTIFY_SOCKET.
class NotifySocket {
 public:
  explicit NotifySocket(std::filesystem::path path);
  const std::filesystem::path& path() const { return path_; }
  // The next message, or "" when none came within timeout.
  std::string next(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

 private:
  std::filesystem::path path_;
  platform::UniqueFd fd_;
};

// A real systemd manager (`systemd --user`) in a private mount namespace, whose private socket
// is linked to $root/run/systemd/private, where the agent looks for systemd. Needs root (for
// unshare and a tmpfs on /run/systemd); when it cannot start, whyNotRunning() says why.
class UserSystemd {
 public:
  explicit UserSystemd(const std::filesystem::path& root);
  ~UserSystemd();
  UserSystemd(const UserSystemd&) = delete;
  UserSystemd& operator=(const UserSystemd&) = delete;

  bool running() const { return whyNotRunning_.empty(); }
  const std::string& whyNotRunning() const { return whyNotRunning_; }

  // Where unit files go ($XDG_DATA_HOME/systemd/user, so that mask links can be made).
  std::filesystem::path unitFolder() const;
  // The scratch folder the manager's services may write to.
  std::filesystem::path scratch() const { return folder_.path(); }
  // systemctl --user against this manager.
  ProgramResult systemctl(std::vector<std::string> arguments) const;
  // Removes every unit file, enablement and mask of earlier cases and stops what ran.
  void reset(const std::vector<std::string>& units) const;

 private:
  std::map<std::string, std::string> environment() const;

  TempDir folder_;
  std::unique_ptr<BackgroundProcess> manager_;
  std::string whyNotRunning_;
};

}  // namespace shelvo::test
