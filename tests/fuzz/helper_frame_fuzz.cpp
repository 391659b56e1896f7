// What a peer sends the helper (a frame header and a request), and what a client reads back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/ipc/frame.h"
#include "platform/ipc/helper_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  auto length = shelvo::platform::frameLength(data);
  if (!length) return 0;
  std::string_view payload(reinterpret_cast<const char*>(data) + 4, size - 4);
  // Only whether decoding survives the bytes is asked, not what it makes of them.
  shelvo::platform::decodeRequest(payload).ignoreError();
  shelvo::platform::decodeReply(payload).ignoreError();
  shelvo::platform::decodeGreeting(payload).ignoreError();
  return 0;
}
