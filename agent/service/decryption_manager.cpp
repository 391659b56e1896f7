#include "agent/service/decryption_manager.h"

#include "agent/configuration.h"
#include "platform/crypto/aes_gcm.h"
#include "platform/text/base64.h"
#include "platform/text/utf8.h"

namespace shelvo {

DecryptionManager::DecryptionManager(const platform::LogConfig& log)
    : logger(log, kSubsystem, "DecryptionManager") {}

std::optional<std::string> DecryptionManager::decrypt(std::string_view body) const {
  auto combined = platform::decodeBase64(body);
  if (!combined) {
    logger.error("Failed to decode obtained install information: Unknown error");
    return std::nullopt;
  }
  auto opened = platform::openAesGcmCombined(DecryptionKeys::keyText, *combined);
  if (!opened.plaintext) {
    if (opened.error == platform::AesGcmOpenError::AuthenticationFailure) {
      logger.error("Failed to decode obtained install information: Error while decrypting data");
    } else {
      logger.error("Failed to decode obtained install information: Invalid format");
    }
    return std::nullopt;
  }
  // Text that authenticates but is not UTF-8 cannot be a script.
  if (!platform::isValidUtf8(*opened.plaintext)) return std::nullopt;
  return std::move(opened.plaintext);
}

}  // namespace shelvo
