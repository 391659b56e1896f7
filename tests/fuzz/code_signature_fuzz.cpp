// The signed content of a code signature: anyone can sign any JSON with a certificate of their
// own, so it is read before the signer is judged.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/codesign/code_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  shelvo::platform::parseCodeDirectory(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
