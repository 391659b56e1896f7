// Script output cut into reads at arbitrary places: every chunk is valid UTF-8, and valid text
// comes out whole, whatever the cuts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/text/utf8.h"
#include "platform/text/utf8_chunker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte seeds the cut positions; the rest is the stream.
  unsigned seed = data[0];
  std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  shelvo::platform::Utf8Chunker chunker;
  std::string joined;
  std::size_t position = 0;
  while (position < stream.size()) {
    seed = seed * 1103515245u + 12345u;
    std::size_t length = 1 + (seed >> 16) % 7;
    auto chunk = chunker.next(stream.substr(position, length));
    if (!shelvo::platform::isValidUtf8(chunk)) std::abort();
    joined.append(chunk);
    position += length;
  }
  if (shelvo::platform::isValidUtf8(stream) && !stream.empty()) {
    // Only a character cut at the very end may still be pending.
    if (!stream.starts_with(joined) || stream.size() - joined.size() > 3) std::abort();
  }
  return 0;
}
