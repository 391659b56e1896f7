#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/log/logger.h"
#include "shared/sealing/decryption_keys.h"

namespace shelvo {

// Opens a service answer: Base64 text of an AES-256-GCM sealed box (nonce, ciphertext, tag)
// whose plaintext is the script as UTF-8. Every failure is logged and yields nothing.
class DecryptionManager {
 public:
  // The answer is opened in one pass over blocks of this much Base64 text, each decoded,
  // decrypted and checked while it is in the cache.
  static constexpr std::size_t kBlockTextLength = 16 * 1024;

  explicit DecryptionManager(const platform::LogConfig& log);

  // The script text, without the NUL characters a script never holds; nothing when the answer
  // cannot be opened or its text is not UTF-8. The body's own memory becomes the text, and it is
  // handed out only once the tag has been verified.
  std::optional<std::string> decrypt(std::string body) const;

  const platform::Logger logger;
};

}  // namespace shelvo
