#include "platform/crypto/aes_gcm.h"

#include <openssl/evp.h>

#include <limits>
#include <memory>

#include "platform/dynamic/library.h"

namespace shelvo::platform {
namespace {

// The libcrypto calls that open a box; the library is loaded only by commands that need it.
struct CryptoApi {
  decltype(&::EVP_CIPHER_CTX_new) contextNew = nullptr;
  decltype(&::EVP_CIPHER_CTX_free) contextFree = nullptr;
  decltype(&::EVP_aes_256_gcm) aes256Gcm = nullptr;
  decltype(&::EVP_DecryptInit_ex) decryptInit = nullptr;
  decltype(&::EVP_CIPHER_CTX_ctrl) control = nullptr;
  decltype(&::EVP_DecryptUpdate) decryptUpdate = nullptr;
  decltype(&::EVP_DecryptFinal_ex) decryptFinal = nullptr;

  static const CryptoApi* get() {
    static const CryptoApi* const api = loadTable<CryptoApi>(
        "libcrypto.so.3", [](const DynamicLibrary& library, CryptoApi& loaded) {
          return library.resolve(loaded.contextNew, "EVP_CIPHER_CTX_new") &&
                 library.resolve(loaded.contextFree, "EVP_CIPHER_CTX_free") &&
                 library.resolve(loaded.aes256Gcm, "EVP_aes_256_gcm") &&
                 library.resolve(loaded.decryptInit, "EVP_DecryptInit_ex") &&
                 library.resolve(loaded.control, "EVP_CIPHER_CTX_ctrl") &&
                 library.resolve(loaded.decryptUpdate, "EVP_DecryptUpdate") &&
                 library.resolve(loaded.decryptFinal, "EVP_DecryptFinal_ex");
        });
    return api;
  }
};

}  // namespace

AesGcmOpened openAesGcm(std::string_view key, std::string_view nonce,
                        std::string ciphertextAndTag) {
  AesGcmOpened result;
  if (key.size() != 32 || nonce.size() != kAesGcmNonceSize ||
      ciphertextAndTag.size() < kAesGcmTagSize ||
      ciphertextAndTag.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return result;
  }
  const CryptoApi* api = CryptoApi::get();
  if (api == nullptr) {
    result.error = AesGcmOpenError::Unavailable;
    return result;
  }
  auto freeContext = [api](EVP_CIPHER_CTX* context) { api->contextFree(context); };
  std::unique_ptr<EVP_CIPHER_CTX, decltype(freeContext)> context(api->contextNew(), freeContext);
  if (!context) {
    result.error = AesGcmOpenError::Unavailable;
    return result;
  }
  std::size_t cipherLength = ciphertextAndTag.size() - kAesGcmTagSize;
  auto* ciphertext = reinterpret_cast<unsigned char*>(ciphertextAndTag.data());
  unsigned char* tag = ciphertext + cipherLength;
  unsigned char* out = ciphertext;  // in place
  int written = 0;
  int finalWritten = 0;
  bool opened =
      api->decryptInit(context.get(), api->aes256Gcm(), nullptr, nullptr, nullptr) == 1 &&
      api->control(context.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kAesGcmNonceSize),
                   nullptr) == 1 &&
      api->decryptInit(context.get(), nullptr, nullptr,
                       reinterpret_cast<const unsigned char*>(key.data()),
                       reinterpret_cast<const unsigned char*>(nonce.data())) == 1 &&
      api->decryptUpdate(context.get(), out, &written, ciphertext,
                         static_cast<int>(cipherLength)) == 1 &&
      api->control(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kAesGcmTagSize), tag) == 1;
  if (opened && api->decryptFinal(context.get(), out + written, &finalWritten) == 1) {
    ciphertextAndTag.resize(static_cast<std::size_t>(written + finalWritten));
    result.plaintext = std::move(ciphertextAndTag);
    return result;
  }
  result.error = AesGcmOpenError::AuthenticationFailure;
  return result;
}

}  // namespace shelvo::platform
