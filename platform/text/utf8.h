#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace shelvo::platform {

// Strict UTF-8, as the platform decodes it: no overlong forms, no surrogates, nothing above
// U+10FFFF.
bool isValidUtf8(std::string_view bytes);

// The length of the leading run of ASCII bytes other than NUL: text that is UTF-8 as it stands
// and holds no NUL character, found in one vector pass.
std::size_t leadingAsciiWithoutNul(std::string_view bytes);

// The length of an incomplete but so far valid sequence at the very end of bytes (0 to 3): the
// start of a character whose remaining bytes have not arrived yet.
std::size_t incompleteUtf8Suffix(std::string_view bytes);

// Trims the platform's newline characters (U+000A-U+000D, U+0085, U+2028, U+2029) from both
// ends of valid UTF-8 text.
std::string_view trimNewlines(std::string_view text);

enum class JsonSlashes { Plain, Escaped };

// Text escaped for a JSON string (without the quotes), the way the platform's encoder writes
// it: quote and backslash escaped, short forms for \b \f \n \r \t, other control characters as
// \u00xx, "/" as "\/" when asked; invalid UTF-8 bytes become U+FFFD.
void appendJsonEscaped(std::string& out, std::string_view text,
                       JsonSlashes slashes = JsonSlashes::Plain);

}  // namespace shelvo::platform
