// What a peer sends the helper (a frame header and a request), and what a client reads back.
#include "platform/ipc/frame.h"
#include "platform/ipc/helper_messages.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4 || !shelvo::platform::frameLength(data)) return 0;
  auto payload = shelvo::fuzz::asText(data + 4, size - 4);
  // Only whether decoding survives the bytes is asked, not what it makes of them.
  shelvo::platform::decodeRequest(payload).ignoreError();
  shelvo::platform::decodeReply(payload).ignoreError();
  shelvo::platform::decodeGreeting(payload).ignoreError();
  return 0;
}
