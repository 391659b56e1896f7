#include "platform/system/unique_string.h"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <random>

namespace shelvo::platform {

std::string makeUUIDString() {
  std::array<unsigned char, 16> bytes{};
  if (::getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
    std::random_device fallback;
    for (auto& byte : bytes) byte = static_cast<unsigned char>(fallback());
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kHex[bytes[i] >> 4]);
    text.push_back(kHex[bytes[i] & 0xF]);
  }
  return text;
}

std::string globallyUniqueString() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_RAW, &now);
  std::uint64_t nanoseconds = static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000ULL +
                              static_cast<std::uint64_t>(now.tv_nsec);
  char clock[17];
  std::snprintf(clock, sizeof clock, "%016llX", static_cast<unsigned long long>(nanoseconds));
  return makeUUIDString() + "-" + std::to_string(::getpid()) + "-" + clock;
}

}  // namespace shelvo::platform
