#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

struct evp_cipher_ctx_st;

namespace shelvo::platform {

inline constexpr std::size_t kAesGcmKeySize = 32;
inline constexpr std::size_t kAesGcmNonceSize = 12;
inline constexpr std::size_t kAesGcmTagSize = 16;

// Opens an AES-256-GCM sealed box (no additional data) a piece at a time, so a large box is
// decrypted while it is still being decoded, in the cache. Nothing decrypted may be used before
// verify() has accepted the tag. OpenSSL's libcrypto is loaded on first use.
class AesGcmDecryption {
 public:
  // key must be 32 bytes and nonce 12; otherwise, or without libcrypto, it is not ready. A
  // cipher that refuses to start is ready but fails to verify.
  AesGcmDecryption(std::string_view key, std::string_view nonce);

  bool ready() const { return context_ != nullptr; }

  // Decrypts the next size bytes of ciphertext to plaintext (which may be the same place);
  // false when the cipher fails, after which verify() fails too.
  bool decrypt(const unsigned char* ciphertext, unsigned char* plaintext, std::size_t size);

  // Whether the 16-byte tag authenticates every piece decrypted.
  bool verify(std::string_view tag);

 private:
  struct ContextFree {
    void operator()(evp_cipher_ctx_st* context) const;
  };
  std::unique_ptr<evp_cipher_ctx_st, ContextFree> context_;
  bool failed_ = false;
};

}  // namespace shelvo::platform
