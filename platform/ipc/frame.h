#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace shelvo::platform {

// Messages travel as frames: a 4-byte big-endian length N (1 to 64 MiB), then N bytes.
inline constexpr std::uint32_t kMaxFrameLength = 64u * 1024 * 1024;

std::string encodeFrame(std::string_view payload);

// The length announced by a frame header, or nothing when it is out of range. Checked before
// anything is allocated for the payload.
std::optional<std::uint32_t> frameLength(const unsigned char header[4]);

// Sends every byte on a stream socket, without SIGPIPE when the peer is gone: the client side
// runs in programs that keep SIGPIPE's default.
Status sendAll(int socket, std::string_view bytes);

// Reads one frame, taking bytes from receiveSome (which fills at most the given length and
// returns how much it read, never 0). The payload buffer grows as bytes arrive, so an announced
// length costs nothing until it is sent.
using ReceiveSome = std::function<Result<std::size_t>(char* buffer, std::size_t length)>;
Result<std::string> readFrame(const ReceiveSome& receiveSome);

}  // namespace shelvo::platform
