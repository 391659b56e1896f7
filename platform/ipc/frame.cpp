#include "platform/ipc/frame.h"

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

}  // namespace shelvo::platform
