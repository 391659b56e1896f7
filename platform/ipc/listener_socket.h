#pragma once

#include <filesystem>

#include "base/result.h"
#include "platform/env/unique_fd.h"

namespace shelvo::platform {

class Env;

// The helper's listening socket: handed over by systemd socket activation, or bound by the
// helper itself when started by hand.
class ListenerSocket {
 public:
  // The socket systemd passed (LISTEN_PID/LISTEN_FDS, descriptor 3); nothing when there is none.
  // The variables are removed so scripts do not inherit them.
  static Result<ListenerSocket> fromSocketActivation(const Env& env);
  // Binds path (mode 0666: the code check is the gate), replacing a stale socket.
  static Result<ListenerSocket> bind(const std::filesystem::path& path);

  // Waits up to timeoutMilliseconds for a client; an invalid fd when none came.
  Result<UniqueFd> accept(int timeoutMilliseconds);
  int fd() const { return socket_.get(); }

 private:
  explicit ListenerSocket(UniqueFd socket) : socket_(std::move(socket)) {}
  UniqueFd socket_;
};

}  // namespace shelvo::platform
