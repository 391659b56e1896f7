#include "platform/ipc/helper_client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ipc/frame.h"
#include "platform/ipc/helper_messages.h"
#include "platform/system/root_prefix.h"

namespace shelvo::platform {
namespace {

bool receiveAll(int fd, char* buffer, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::recv(fd, buffer, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::filesystem::path HelperClient::defaultSocket() {
  return RootPrefix::fromEnvironment().resolve("/run/ostrel.shelvo.helper.sock");
}

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

bool HelperClient::sendRaw(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

Result<std::int64_t> HelperClient::sendScript(const std::string& command) {
  std::int64_t id = nextId_++;
  ScriptRequest request{id, std::string(kExecuteScriptMethod), command};
  if (!sendRaw(encodeFrame(encodeRequest(request))))
    return Error{"the helper closed the connection"};
  return id;
}

Result<std::int32_t> HelperClient::awaitReply(std::int64_t id) {
  unsigned char header[4];
  if (!receiveAll(socket_.get(), reinterpret_cast<char*>(header), sizeof header)) {
    return Error{"the helper ended the connection without a reply"};
  }
  auto length = frameLength(header);
  if (!length) return Error{"the helper sent a bad frame"};
  std::string payload(*length, '\0');
  if (!receiveAll(socket_.get(), payload.data(), payload.size())) {
    return Error{"the helper ended the connection without a reply"};
  }
  auto reply = decodeReply(payload);
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
