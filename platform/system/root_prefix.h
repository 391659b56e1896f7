#pragma once

#include <filesystem>
#include <string_view>

namespace shelvo::platform {

class Env;

// Every fixed filesystem location lives under this prefix (SHELVO_ROOT, default "/"), so tests
// can run against a scratch folder and never touch the real system.
class RootPrefix {
 public:
  explicit RootPrefix(std::filesystem::path root) : root_(std::move(root)) {}
  // SHELVO_ROOT, or "/".
  static RootPrefix fromEnvironment(const Env& env);

  // "/etc/shelvo" under root "/tmp/r" is "/tmp/r/etc/shelvo".
  std::filesystem::path resolve(std::string_view absolutePath) const;
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
};

}  // namespace shelvo::platform
