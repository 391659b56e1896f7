// Opening a service answer: Base64, then AES-256-GCM, then UTF-8 and NUL removal, a block at a
// time, on any body a server sends.
#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/service/decryption_manager.h"
#include "platform/log/log_sink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const shelvo::DecryptionManager manager(
      shelvo::platform::LogConfig{std::make_shared<shelvo::platform::NullSink>(), false});
  manager.decrypt(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
