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
  shelvo::platform::decodeRequest(payload);
  shelvo::platform::decodeReply(payload);
  shelvo::platform::decodeGreeting(payload);
  return 0;
}
