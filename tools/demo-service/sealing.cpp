#include "tools/demo-service/sealing.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>
#include <stdexcept>

#include "platform/text/base64.h"

namespace shelvo::demo {

std::string sealCombined(std::string_view plaintext, std::string_view key, std::string_view nonce) {
  if (key.size() != 32 || nonce.size() != 12) throw std::invalid_argument("bad key or nonce size");
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                          EVP_CIPHER_CTX_free);
  std::string box(nonce);
  box.resize(12 + plaintext.size() + 16);
  auto* out = reinterpret_cast<unsigned char*>(box.data() + 12);
  int written = 0;
  int finalWritten = 0;
  bool ok =
      context &&
      EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, 12, nullptr) == 1 &&
      EVP_EncryptInit_ex(context.get(), nullptr, nullptr,
                         reinterpret_cast<const unsigned char*>(key.data()),
                         reinterpret_cast<const unsigned char*>(nonce.data())) == 1 &&
      EVP_EncryptUpdate(context.get(), out, &written,
                        reinterpret_cast<const unsigned char*>(plaintext.data()),
                        static_cast<int>(plaintext.size())) == 1 &&
      EVP_EncryptFinal_ex(context.get(), out + written, &finalWritten) == 1 &&
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, 16, out + plaintext.size()) == 1;
  if (!ok) throw std::runtime_error("AES-GCM sealing failed");
  return box;
}

std::string sealTextWithNonce(std::string_view plaintext, std::string_view key,
                              std::string_view nonce) {
  return platform::encodeBase64(sealCombined(plaintext, key, nonce));
}

std::string sealText(std::string_view plaintext, std::string_view key) {
  unsigned char nonce[12];
  if (RAND_bytes(nonce, sizeof nonce) != 1) throw std::runtime_error("no random bytes");
  return sealTextWithNonce(plaintext, key,
                           std::string_view(reinterpret_cast<const char*>(nonce), sizeof nonce));
}

}  // namespace shelvo::demo
