#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace shelvo::platform {

// Strict Base64 (RFC 4648 alphabet with "=" padding), as the platform decodes with no options:
// the length must be a multiple of four, any byte outside the alphabet (line breaks and spaces
// included) fails, nothing may follow padding. Unused low bits of the last group are ignored.
std::optional<std::string> decodeBase64(std::string_view text);

std::string encodeBase64(std::string_view bytes);

}  // namespace shelvo::platform
