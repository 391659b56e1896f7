#include "platform/system/root_prefix.h"

#include <cstdlib>

namespace shelvo::platform {

RootPrefix RootPrefix::fromEnvironment() {
  const char* root = std::getenv("SHELVO_ROOT");
  return RootPrefix(root != nullptr && *root != '\0' ? root : "/");
}

std::filesystem::path RootPrefix::resolve(std::string_view absolutePath) const {
  while (!absolutePath.empty() && absolutePath.front() == '/') absolutePath.remove_prefix(1);
  return root_ / absolutePath;
}

}  // namespace shelvo::platform
