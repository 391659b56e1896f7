// Base64 of a service answer: decoding never reads or writes out of bounds, and whatever decodes
// encodes back to the same text (the decoder is strict, so there is one spelling per value,
// except for the unused low bits of the last group).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/text/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto decoded = shelvo::platform::decodeBase64(text);
  if (decoded && decoded->size() != text.size() / 4 * 3 - (text.ends_with("==")  ? 2
                                                           : text.ends_with("=") ? 1
                                                                                 : 0)) {
    std::abort();
  }
  if (decoded &&
      shelvo::platform::decodeBase64(shelvo::platform::encodeBase64(*decoded)) != decoded)
    std::abort();
  return 0;
}
