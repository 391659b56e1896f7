#include "platform/system/root_prefix.h"

#include "platform/env/env.h"

namespace shelvo::platform {

RootPrefix RootPrefix::fromEnvironment(const Env& env) {
  auto root = env.variable("SHELVO_ROOT");
  return RootPrefix(root && !root->empty() ? *root : std::string("/"));
}

std::filesystem::path RootPrefix::resolve(std::string_view absolutePath) const {
  while (!absolutePath.empty() && absolutePath.front() == '/') absolutePath.remove_prefix(1);
  return root_ / absolutePath;
}

}  // namespace shelvo::platform
