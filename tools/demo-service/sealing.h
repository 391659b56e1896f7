#pragma once

#include <string>
#include <string_view>

namespace shelvo::demo {

// Seals text the way the app service does: AES-256-GCM with a fresh 12-byte nonce, the combined
// box (nonce, ciphertext, tag) as Base64 text. key must be 32 bytes.
std::string sealText(std::string_view plaintext, std::string_view key);

// The same with a caller's nonce, for reproducible tests.
std::string sealTextWithNonce(std::string_view plaintext, std::string_view key,
                              std::string_view nonce);

// The raw combined box, before Base64.
std::string sealCombined(std::string_view plaintext, std::string_view key, std::string_view nonce);

}  // namespace shelvo::demo
