#pragma once

// What the fuzz targets share: the input as text, and a stream cut into reads where a seed says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace shelvo::fuzz {

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Hands stream to read in pieces of 1 to maxLength bytes, cut where seed leads.
template <typename Read>
void inReads(std::string_view stream, unsigned seed, std::size_t maxLength, Read read) {
  for (std::size_t position = 0; position < stream.size();) {
    seed = seed * 1103515245u + 12345u;
    std::size_t length = 1 + (seed >> 16) % maxLength;
    read(stream.substr(position, length));
    position += length;
  }
}

}  // namespace shelvo::fuzz
