#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace shelvo::platform {

// Messages travel as frames: a 4-byte big-endian length N (1 to 64 MiB), then N bytes.
inline constexpr std::uint32_t kMaxFrameLength = 64u * 1024 * 1024;

std::string encodeFrame(std::string_view payload);

// The length announced by a frame header, or nothing when it is out of range. Checked before
// anything is allocated for the payload.
std::optional<std::uint32_t> frameLength(const unsigned char header[4]);

}  // namespace shelvo::platform
