#include "platform/ipc/listener_socket.h"

#include "platform/env/env.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/env/files.h"

namespace shelvo::platform {
namespace {

constexpr int kFirstPassedFd = 3;  // systemd's SD_LISTEN_FDS_START

Error errnoError(const std::string& what) {
  return Error{what + ": " + std::strerror(errno)};
}

void passCredentials(int fd) {
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
}

}  // namespace

Result<ListenerSocket> ListenerSocket::fromSocketActivation(const Env& env) {
  auto pid = env.variable("LISTEN_PID");
  auto fds = env.variable("LISTEN_FDS");
  bool forUs = pid && fds && std::atol(pid->c_str()) == ::getpid();
  // Scripts started later must not think the socket was passed to them.
  ::unsetenv("LISTEN_PID");
  ::unsetenv("LISTEN_FDS");
  ::unsetenv("LISTEN_FDNAMES");
  if (!forUs) return Error{"no socket was passed"};
  if (std::atoi(fds->c_str()) != 1) return Error{"expected exactly one passed socket"};
  int type = 0;
  socklen_t length = sizeof type;
  sockaddr_un address{};
  socklen_t addressLength = sizeof address;
  if (::getsockopt(kFirstPassedFd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 ||
      type != SOCK_STREAM ||
      ::getsockname(kFirstPassedFd, reinterpret_cast<sockaddr*>(&address), &addressLength) != 0 ||
      address.sun_family != AF_UNIX) {
    return Error{"the passed descriptor is not a Unix stream socket"};
  }
  ::fcntl(kFirstPassedFd, F_SETFD, FD_CLOEXEC);
  passCredentials(kFirstPassedFd);
  return ListenerSocket(UniqueFd(kFirstPassedFd));
}

Result<ListenerSocket> ListenerSocket::bind(const std::filesystem::path& path) {
  // Bound and listening under a name of its own first, then renamed into place: a client that
  // finds the socket can connect at once, never between bind and listen.
  std::filesystem::path staging = path;
  staging += '.';
  staging += std::to_string(::getpid());
  staging += ".new";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (staging.string().size() >= sizeof address.sun_path)
    return Error{"socket path too long: " + path.string()};
  std::strncpy(address.sun_path, staging.c_str(), sizeof address.sun_path - 1);
  if (auto made = makeFolders(path.parent_path(), 0755); !made) return made.error();
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) return errnoError("cannot create socket");
  passCredentials(socket.get());
  ::unlink(staging.c_str());
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return errnoError("cannot bind " + path.string());
  }
  ::chmod(staging.c_str(), 0666);
  if (::listen(socket.get(), SOMAXCONN) != 0 || ::rename(staging.c_str(), path.c_str()) != 0) {
    auto error = errnoError("cannot listen on " + path.string());
    ::unlink(staging.c_str());
    return error;
  }
  return ListenerSocket(std::move(socket));
}

Result<UniqueFd> ListenerSocket::accept(int timeoutMilliseconds) {
  pollfd waiting{socket_.get(), POLLIN, 0};
  int ready = ::poll(&waiting, 1, timeoutMilliseconds);
  if (ready < 0 && errno != EINTR) return errnoError("cannot wait for clients");
  if (ready <= 0) return UniqueFd();
  UniqueFd client(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!client && errno != EAGAIN && errno != EINTR && errno != ECONNABORTED) {
    return errnoError("cannot accept a client");
  }
  return client;
}

}  // namespace shelvo::platform
