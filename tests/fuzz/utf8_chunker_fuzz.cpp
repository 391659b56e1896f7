// Script output cut into reads at arbitrary places: every chunk is valid UTF-8, and valid text
// comes out whole, whatever the cuts.
#include "platform/text/utf8.h"
#include "platform/text/utf8_chunker.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte seeds the cut positions; the rest is the stream.
  auto stream = shelvo::fuzz::asText(data + 1, size - 1);
  shelvo::platform::Utf8Chunker chunker;
  std::string joined;
  shelvo::fuzz::inReads(stream, data[0], 7, [&](std::string_view read) {
    auto chunk = chunker.next(read);
    if (!shelvo::platform::isValidUtf8(chunk)) std::abort();
    joined.append(chunk);
  });
  // Only a character cut at the very end may still be pending.
  if (shelvo::platform::isValidUtf8(stream) && !stream.empty() &&
      (!stream.starts_with(joined) || stream.size() - joined.size() > 3))
    std::abort();
  return 0;
}
