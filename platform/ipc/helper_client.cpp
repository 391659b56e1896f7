#include "platform/ipc/helper_client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ipc/frame.h"
#include "platform/ipc/helper_messages.h"

namespace shelvo::platform {

Result<HelperClient> HelperClient::connect(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.string().size() >= sizeof address.sun_path) return Error{"socket path too long"};
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) return Error{std::string("cannot create socket: ") + std::strerror(errno)};
  if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return Error{"cannot connect to " + path.string() + ": " + std::strerror(errno)};
  }
  return HelperClient(std::move(socket));
}

Result<std::int64_t> HelperClient::sendScript(const std::string& command) {
  std::int64_t id = nextId_++;
  ScriptRequest request{id, std::string(kExecuteScriptMethod), command};
  if (!sendAll(socket_.get(), encodeFrame(encodeRequest(request))))
    return Error{"the helper closed the connection"};
  return id;
}

Result<std::int32_t> HelperClient::awaitReply(std::int64_t id) {
  auto payload = readFrame([&](char* buffer, std::size_t length) -> Result<std::size_t> {
    ssize_t n = -1;
    do {
      n = ::recv(socket_.get(), buffer, length, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return Error{"the helper ended the connection without a reply"};
    return static_cast<std::size_t>(n);
  });
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
