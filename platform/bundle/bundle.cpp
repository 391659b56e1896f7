#include "platform/bundle/bundle.h"

#include "platform/env/env.h"

namespace shelvo::platform {
namespace {

constexpr std::size_t kMaxInfoPlist = 4 * 1024 * 1024;

}  // namespace

Plist readInfoDictionary(const Env& env, const std::filesystem::path& bundlePath) {
  auto bytes = env.readFile(bundlePath / "Contents" / "Info.plist", kMaxInfoPlist);
  if (!bytes) return nullptr;
  Plist info = parsePlist(*bytes);
  return isDictionary(info.get()) ? std::move(info) : nullptr;
}

std::optional<Bundle> Bundle::atPath(const Env& env, const std::filesystem::path& path) {
  if (!env.isFolder(path)) return std::nullopt;
  return ofFolder(env, path);
}

Bundle Bundle::ofFolder(const Env& env, const std::filesystem::path& folder) {
  Plist info = readInfoDictionary(env, folder);
  return Bundle(folder, std::shared_ptr<void>(info.release(), PlistFree{}));
}

std::optional<Bundle> Bundle::mainBundle(const Env& env) {
  std::error_code error;
  std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  std::filesystem::path macos = executable.parent_path();
  std::filesystem::path contents = macos.parent_path();
  std::filesystem::path bundle = contents.parent_path();
  if (macos.filename() != "MacOS" || contents.filename() != "Contents" ||
      bundle.extension() != ".app") {
    return std::nullopt;
  }
  return atPath(env, bundle);
}

std::optional<std::string> Bundle::infoString(const std::string& key) const {
  return stringValue(dictionaryItem(info_.get(), key));
}

}  // namespace shelvo::platform
