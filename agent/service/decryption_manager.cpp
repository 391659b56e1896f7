#include "agent/service/decryption_manager.h"

#include <algorithm>

#include "agent/configuration.h"
#include "platform/crypto/aes_gcm.h"
#include "platform/text/base64.h"
#include "platform/text/utf8.h"

namespace shelvo {

DecryptionManager::DecryptionManager(const platform::LogConfig& log)
    : logger(log, kSubsystem, "DecryptionManager") {}

namespace {

// Base64 text of the box's 12-byte nonce: four whole groups, so the rest decodes on its own.
constexpr std::size_t kNonceTextLength = 16;

struct DecodedBox {
  std::string nonce;
  std::string rest;  // ciphertext and tag
};

// Decodes the body in two parts, nonce and rest, which is the same as decoding it whole (the
// split falls between groups) but lets the ciphertext start its own buffer and be opened in
// place.
std::optional<DecodedBox> decodeBox(std::string_view body) {
  if (body.size() <= kNonceTextLength) {
    auto whole = platform::decodeBase64(body);
    if (!whole) return std::nullopt;
    std::size_t nonceLength = std::min(whole->size(), platform::kAesGcmNonceSize);
    return DecodedBox{whole->substr(0, nonceLength), whole->substr(nonceLength)};
  }
  auto nonce = platform::decodeBase64(body.substr(0, kNonceTextLength));
  auto rest = platform::decodeBase64(body.substr(kNonceTextLength));
  // Padding inside the first part, with more text after it, is not Base64.
  if (!nonce || !rest || nonce->size() != platform::kAesGcmNonceSize) return std::nullopt;
  return DecodedBox{std::move(*nonce), std::move(*rest)};
}

}  // namespace

std::optional<std::string> DecryptionManager::decrypt(std::string_view body) const {
  auto box = decodeBox(body);
  if (!box) {
    logger.error("Failed to decode obtained install information: Unknown error");
    return std::nullopt;
  }
  platform::AesGcmOpened opened;
  if (box->nonce.size() == platform::kAesGcmNonceSize) {
    opened = platform::openAesGcm(DecryptionKeys::keyText, box->nonce, std::move(box->rest));
  }
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
