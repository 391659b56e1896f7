// Property lists from places other users write: the shape check, libplist behind it, and the
// two readers that use them, a preference layer and a bundle's Info.plist, read from a file.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/bundle/bundle.h"
#include "platform/defaults/preferences.h"
#include "platform/env/posix_env.h"
#include "platform/plist/plist.h"
#include "platform/plist/plist_guard.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// A scratch root for this process, removed when it ends.
struct ScratchRoot {
  ScratchRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "shelvo-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
    std::filesystem::create_directories(path / "etc/shelvo");
    std::filesystem::create_directories(path / "X.app/Contents");
  }
  ~ScratchRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::filesystem::path path;
};

const std::filesystem::path& scratchRoot() {
  static const ScratchRoot root;
  return root.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto bytes = shelvo::fuzz::asText(data, size);
  using namespace shelvo::platform;
  if (checkPlistShape(bytes)) {
    Plist root = parsePlist(bytes);
    for (const auto& key : dictionaryKeys(root.get())) stringValue(dictionaryItem(root.get(), key));
  }
  auto root = scratchRoot();
  std::ofstream(root / "etc/shelvo/fuzz.plist", std::ios::binary | std::ios::trunc) << bytes;
  PosixEnv env;
  Preferences layer(env, "fuzz", RootPrefix(root), {"", std::nullopt});
  Plist merged = layer.dictionaryRepresentation();
  layer.stringArrayForKey("ExcludeAppsUpdate");
  layer.integerForKey("UpdateInterval");
  std::ofstream(root / "X.app/Contents/Info.plist", std::ios::binary | std::ios::trunc) << bytes;
  if (auto bundle = Bundle::atPath(env, root / "X.app")) {
    bundle->bundleIdentifier();
    bundle->infoString("CFBundleShortVersionString");
  }
  return 0;
}
