// Opening a service answer: Base64, then AES-256-GCM, then UTF-8 and NUL removal, a block at a
// time. Any body a server sends is opened; the input is also sealed as a script, after enough
// text that a block boundary falls inside it where its first byte says, and must open to itself
// without its NULs exactly when it is UTF-8.
#include "agent/service/decryption_manager.h"
#include "platform/log/log_sink.h"
#include "platform/text/utf8.h"
#include "tests/fuzz/fuzz_input.h"
#include "tools/demo-service/sealing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const shelvo::DecryptionManager manager(
      shelvo::platform::LogConfig{std::make_shared<shelvo::platform::NullSink>(), false});
  auto input = shelvo::fuzz::asText(data, size);
  manager.decrypt(std::string(input));

  constexpr std::size_t kBlock = shelvo::DecryptionManager::kBlockTextLength / 4 * 3;
  std::string text(kBlock - (size > 0 ? data[0] : 0), 'a');
  text.append(input);
  auto opened = manager.decrypt(
      shelvo::demo::sealTextWithNonce(text, shelvo::DecryptionKeys::keyText, "0123456789ab"));
  std::string expected = text;
  std::erase(expected, '\0');
  if (opened.has_value() != shelvo::platform::isValidUtf8(text) || (opened && *opened != expected))
    std::abort();
  return 0;
}
