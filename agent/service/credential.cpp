#include "agent/service/credential.h"

#include <algorithm>

namespace shelvo {

platform::Result<Credential> Credential::check(std::string text) {
  bool hasControlCharacter = std::any_of(text.begin(), text.end(), [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
  if (hasControlCharacter) {
    return platform::Error{"Error: Authorization contains a control character and cannot be sent"};
  }
  return Credential(std::move(text));
}

}  // namespace shelvo
