#include "platform/service-management/service_notifier.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cstring>

#include "platform/env/unique_fd.h"

namespace shelvo::platform {

ServiceNotifier ServiceNotifier::fromEnvironment(const Env& env) {
  ServiceNotifier notifier;
  notifier.socket_ = env.variable("NOTIFY_SOCKET").value_or("");
  return notifier;
}

void ServiceNotifier::status(std::string_view text) const {
  // A path, or "@" and the name of a socket in the abstract namespace.
  sockaddr_un address{};
  if (socket_.empty() || socket_.size() >= sizeof(address.sun_path)) return;
  if (socket_[0] != '/' && socket_[0] != '@') return;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socket_.data(), socket_.size());
  if (socket_[0] == '@') address.sun_path[0] = '\0';
  auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket_.size());
  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return;
  // One line: a newline in the text (a bundle identifier of the run waited for may hold one)
  // would start a second assignment, READY=1 or MAINPID=, read as this service's own.
  std::string message = "STATUS=" + std::string(text);
  std::replace_if(
      message.begin(), message.end(),
      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; }, ' ');
  // Best effort: what systemd shows is no reason to stop a run.
  (void)::sendto(fd.get(), message.data(), message.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&address), length);
}

}  // namespace shelvo::platform
