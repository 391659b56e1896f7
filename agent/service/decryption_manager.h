#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/log/logger.h"
#include "shared/sealing/decryption_keys.h"

namespace shelvo {

// Opens a service answer: Base64 text of an AES-256-GCM sealed box (nonce, ciphertext, tag)
// whose plaintext is the script as UTF-8. Every failure is logged and yields nothing.
class DecryptionManager {
 public:
  explicit DecryptionManager(const platform::LogConfig& log);

  std::optional<std::string> decrypt(std::string_view body) const;

  const platform::Logger logger;
};

}  // namespace shelvo
