// The signed content of a code signature: anyone can sign any JSON with a certificate of their
// own, so it is read before the signer is judged.
#include "platform/codesign/code_signature.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  shelvo::platform::parseCodeDirectory(shelvo::fuzz::asText(data, size));
  return 0;
}
