#pragma once

#include <string>
#include <string_view>

namespace shelvo::platform {

// Whether libcurl, which will send the request, parses text as a whole URL: a port out of range
// or not a number, an unclosed IPv6 bracket and the like fail here, not later as a request error.
// False too when libcurl cannot be loaded.
bool parsesAsURL(const std::string& text);

// The parts of "scheme://authority/path?query#fragment", as views into the text. Text without
// "://" is all path. The query and fragment are left out.
struct URLParts {
  std::string_view scheme;
  std::string_view authority;    // user info, host and port
  std::string_view hostAndPort;  // the authority after any user info
  std::string_view host;         // without the port, and without brackets around IPv6
  std::string_view path;
};
URLParts splitURL(std::string_view url);

}  // namespace shelvo::platform
