#pragma once

#include <string>

namespace shelvo::platform {

// Whether libcurl, which will send the request, parses text as a whole URL: a port out of range
// or not a number, an unclosed IPv6 bracket and the like fail here, not later as a request error.
// False too when libcurl cannot be loaded.
bool parsesAsURL(const std::string& text);

}  // namespace shelvo::platform
