// Base64 of a service answer: decoding never reads or writes out of bounds, and whatever decodes
// encodes back to the same text (the decoder is strict, so there is one spelling per value,
// except for the unused low bits of the last group).
#include "platform/text/base64.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto text = shelvo::fuzz::asText(data, size);
  auto decoded = shelvo::platform::decodeBase64(text);
  if (!decoded) return 0;
  std::size_t padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
  if (decoded->size() != text.size() / 4 * 3 - padding ||
      shelvo::platform::decodeBase64(shelvo::platform::encodeBase64(*decoded)) != decoded)
    std::abort();
  return 0;
}
