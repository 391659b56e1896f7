#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace shelvo::platform {

// Whether an ASCII byte is in the platform's URL-query-allowed character set.
bool isURLQueryAllowed(unsigned char byte);

// Percent-encodes every UTF-8 byte outside the URL-query-allowed set with uppercase hex, "%"
// included. Nothing when the text is not valid UTF-8 (the platform cannot convert it either).
std::optional<std::string> addingPercentEncodingForURLQuery(std::string_view text);

// Decodes every "%XX"; nothing when a "%" is not followed by two hex digits or the result is
// not valid UTF-8, as the platform decodes.
std::optional<std::string> removingPercentEncoding(std::string_view text);

// The file URL of an absolute path, as the platform writes it: "file://" and the path with every
// byte outside the URL-path-allowed set (the query set without ";" and "?") percent-encoded;
// a folder's URL ends in "/".
std::string fileURLForPath(std::string_view path, bool isFolder = false);

}  // namespace shelvo::platform
