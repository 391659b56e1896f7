#include "platform/ipc/frame.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace shelvo::platform {

std::string encodeFrame(std::string_view payload) {
  auto length = static_cast<std::uint32_t>(payload.size());
  std::string frame;
  frame.reserve(4 + payload.size());
  frame.push_back(static_cast<char>(length >> 24));
  frame.push_back(static_cast<char>(length >> 16));
  frame.push_back(static_cast<char>(length >> 8));
  frame.push_back(static_cast<char>(length));
  frame.append(payload);
  return frame;
}

std::optional<std::uint32_t> frameLength(const unsigned char header[4]) {
  std::uint32_t length = (static_cast<std::uint32_t>(header[0]) << 24) |
                         (static_cast<std::uint32_t>(header[1]) << 16) |
                         (static_cast<std::uint32_t>(header[2]) << 8) | header[3];
  if (length < 1 || length > kMaxFrameLength) return std::nullopt;
  return length;
}

Status sendAll(int socket, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0) return Error{std::string("cannot send: ") + std::strerror(errno), errno};
    if (sent == 0) return Error{"cannot send: the peer is gone", EPIPE};
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return success();
}

Result<std::string> readFrame(const ReceiveSome& receiveSome) {
  unsigned char header[4];
  std::size_t filled = 0;
  while (filled < sizeof header) {
    auto received = receiveSome(reinterpret_cast<char*>(header) + filled, sizeof header - filled);
    if (!received) return received.error();
    filled += *received;
  }
  auto length = frameLength(header);
  if (!length) return Error{"a frame of a length outside 1 to 64 MiB"};
  constexpr std::size_t kReadSlice = 64 * 1024;
  std::string payload;
  while (payload.size() < *length) {
    std::size_t filledBefore = payload.size();
    std::size_t want = std::min<std::size_t>(*length - filledBefore, kReadSlice);
    payload.resize(filledBefore + want);
    auto received = receiveSome(payload.data() + filledBefore, want);
    if (!received) return received.error();
    payload.resize(filledBefore + *received);
  }
  return payload;
}

}  // namespace shelvo::platform
