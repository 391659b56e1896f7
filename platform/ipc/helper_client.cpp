#include "platform/ipc/helper_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/ipc/frame.h"

namespace shelvo::platform {

Result<UniqueFd> HelperClient::open(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.string().size() >= sizeof address.sun_path) return Error{"socket path too long"};
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) return Error{std::string("cannot create socket: ") + std::strerror(errno)};
  if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return Error{"cannot connect to " + path.string() + ": " + std::strerror(errno)};
  }
  return socket;
}

Result<HelperClient> HelperClient::connect(const std::filesystem::path& path,
                                           std::chrono::milliseconds greetingWait) {
  auto socket = open(path);
  if (!socket) return socket.error();
  HelperClient client(std::move(*socket));
  if (auto greeted = client.awaitGreeting(greetingWait); !greeted) return greeted.error();
  return client;
}

Status HelperClient::awaitGreeting(std::chrono::milliseconds wait) {
  auto payload = receiveFrame(std::chrono::steady_clock::now() + wait);
  if (!payload) return payload.error();
  return decodeGreeting(*payload);
}

Result<std::string> HelperClient::receiveFrame(
    std::optional<std::chrono::steady_clock::time_point> deadline) {
  return readFrame([&](char* buffer, std::size_t length) -> Result<std::size_t> {
    while (true) {
      int timeout = -1;
      if (deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            *deadline - std::chrono::steady_clock::now());
        timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, 24 * 3600 * 1000));
      }
      pollfd readable{socket_.get(), POLLIN, 0};
      int ready = ::poll(&readable, 1, timeout);
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) return Error{"the helper did not answer in time", ETIMEDOUT};
      ssize_t n = ::recv(socket_.get(), buffer, length, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Error{"the helper ended the connection without a reply"};
      return static_cast<std::size_t>(n);
    }
  });
}

Result<std::int64_t> HelperClient::sendScript(const std::string& command) {
  std::int64_t id = nextId_++;
  ScriptRequest request{id, std::string(kExecuteScriptMethod), command};
  if (!sendAll(socket_.get(), encodeFrame(encodeRequest(request))))
    return Error{"the helper closed the connection"};
  return id;
}

Result<std::int32_t> HelperClient::awaitReply(std::int64_t id) {
  // A script runs as long as it runs: no deadline.
  auto payload = receiveFrame(std::nullopt);
  if (!payload) return payload.error();
  auto reply = decodeReply(*payload);
  if (!reply) return reply.error();
  if (reply->id != id) return Error{"a reply to another request"};
  return reply->reply;
}

Result<std::int32_t> HelperClient::executeScript(const std::string& command) {
  auto id = sendScript(command);
  if (!id) return id.error();
  return awaitReply(*id);
}

}  // namespace shelvo::platform
