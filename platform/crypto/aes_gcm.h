#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace shelvo::platform {

enum class AesGcmOpenError { InvalidFormat, AuthenticationFailure, Unavailable };

struct AesGcmOpened {
  std::optional<std::string> plaintext;
  AesGcmOpenError error = AesGcmOpenError::InvalidFormat;
};

inline constexpr std::size_t kAesGcmNonceSize = 12;
inline constexpr std::size_t kAesGcmTagSize = 16;

// Opens an AES-256-GCM sealed box (12-byte nonce; ciphertext and 16-byte tag, no additional
// data), in place: a large answer is never copied. key must be 32 bytes. OpenSSL's libcrypto is
// loaded on first use.
AesGcmOpened openAesGcm(std::string_view key, std::string_view nonce, std::string ciphertextAndTag);

}  // namespace shelvo::platform
