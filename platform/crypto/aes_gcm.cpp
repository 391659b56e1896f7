#include "platform/crypto/aes_gcm.h"

#include <openssl/evp.h>

#include <algorithm>
#include <limits>

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

const unsigned char* bytesOf(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

void AesGcmDecryption::ContextFree::operator()(evp_cipher_ctx_st* context) const {
  CryptoApi::get()->contextFree(context);
}

AesGcmDecryption::AesGcmDecryption(std::string_view key, std::string_view nonce) {
  const CryptoApi* api = CryptoApi::get();
  if (key.size() != kAesGcmKeySize || nonce.size() != kAesGcmNonceSize || api == nullptr) return;
  context_.reset(api->contextNew());
  if (!context_) return;
  failed_ = api->decryptInit(context_.get(), api->aes256Gcm(), nullptr, nullptr, nullptr) != 1 ||
            api->control(context_.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kAesGcmNonceSize),
                         nullptr) != 1 ||
            api->decryptInit(context_.get(), nullptr, nullptr, bytesOf(key), bytesOf(nonce)) != 1;
}

bool AesGcmDecryption::decrypt(const unsigned char* ciphertext, unsigned char* plaintext,
                               std::size_t size) {
  if (!context_ || failed_) return false;
  const CryptoApi* api = CryptoApi::get();
  // The cipher takes an int length; a piece is normally far shorter.
  constexpr std::size_t kLargestCall = std::numeric_limits<int>::max() / 16 * 16;
  while (size > 0 && !failed_) {
    int length = static_cast<int>(std::min(size, kLargestCall));
    int written = 0;
    failed_ = api->decryptUpdate(context_.get(), plaintext, &written, ciphertext, length) != 1 ||
              written != length;
    ciphertext += length;
    plaintext += length;
    size -= static_cast<std::size_t>(length);
  }
  return !failed_;
}

bool AesGcmDecryption::verify(std::string_view tag) {
  if (!context_ || failed_ || tag.size() != kAesGcmTagSize) return false;
  const CryptoApi* api = CryptoApi::get();
  // The tag is only read; the call's signature lacks const.
  auto* tagBytes = const_cast<unsigned char*>(bytesOf(tag));
  int finalWritten = 0;
  unsigned char none[1];
  failed_ = api->control(context_.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kAesGcmTagSize),
                         tagBytes) != 1 ||
            api->decryptFinal(context_.get(), none, &finalWritten) != 1;
  return !failed_;
}

}  // namespace shelvo::platform
