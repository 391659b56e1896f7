#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace shelvo::platform {

// Strict Base64 (RFC 4648 alphabet with "=" padding), as the platform decodes with no options:
// the length must be a multiple of four, any byte outside the alphabet (line breaks and spaces
// included) fails, nothing may follow padding. Unused low bits of the last group are ignored.
std::optional<std::string> decodeBase64(std::string_view text);

// Room beyond the decoded bytes that decodeBase64Groups may write to (and leave undefined).
inline constexpr std::size_t kBase64GroupsSlack = 16;

// Decodes groups of four characters of the alphabet, without padding, to text.size() / 4 * 3
// bytes at out, for a long text decoded a block at a time; false when any byte is outside the
// alphabet or is "=". text.size() must be a multiple of four, and out must have room for
// kBase64GroupsSlack bytes more.
bool decodeBase64Groups(std::string_view text, unsigned char* out);

std::string encodeBase64(std::string_view bytes);

}  // namespace shelvo::platform
