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

}  // namespace shelvo::platform
