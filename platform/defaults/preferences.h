#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "platform/env/env.h"
#include "platform/plist/plist.h"
#include "platform/system/root_prefix.h"
#include "platform/system/user.h"

namespace shelvo::platform {

// One preferences domain (suite): a <domain>.plist in each of four layers. Reads search the
// layers in order and the first one holding the key wins; nothing is cached. Writes go to the
// user layer, atomically, under an exclusive lock on <domain>.plist.lock. Files are read and
// written through env, which must outlive the suite.
class Preferences {
 public:
  Preferences(Env& env, std::string domain, RootPrefix root, UserAccount user);

  // The platform refuses a suite named like the program's own bundle or the global domain.
  static std::optional<Preferences> openSuite(Env& env, std::string domain, const RootPrefix& root,
                                              const UserAccount& user,
                                              const std::optional<std::string>& mainBundleId);

  const std::string& domain() const { return domain_; }
  // The layer files, highest precedence first.
  std::vector<std::filesystem::path> layerFiles() const;
  // Absent when the user has no home folder.
  std::optional<std::filesystem::path> userLayerFile() const;

  Plist objectForKey(const std::string& key) const;
  // The layer file whose value of key is read, when one has it.
  std::optional<std::filesystem::path> fileHolding(const std::string& key) const;
  std::optional<std::string> stringForKey(const std::string& key) const;
  bool boolForKey(const std::string& key) const;
  std::int64_t integerForKey(const std::string& key) const;
  std::optional<std::vector<std::string>> stringArrayForKey(const std::string& key) const;
  std::optional<std::string> dataForKey(const std::string& key) const;
  // Every key of every layer, merged by precedence.
  Plist dictionaryRepresentation() const;

  // How one layer file was read, for telling an administrator why a value is or is not seen.
  struct LayerReading {
    enum class State {
      Missing,     // no such file
      Used,        // read; its keys count
      Unreadable,  // this user may not read it (reason names the file or folder in the way)
      Skipped,     // a root process may not trust it (reason says why)
      Unusable,    // not a regular file, too large or not a property list dictionary
    };
    std::filesystem::path file;
    std::string layer;  // "managed, this user", "managed, any user", "this user" or "any user"
    State state = State::Missing;
    std::string reason;
    Plist dictionary;  // when used
  };
  // Every layer, highest precedence first.
  std::vector<LayerReading> readLayers() const;

  Status setObject(const std::string& key, Plist value) const;
  Status removeObject(const std::string& key) const;

  // Where a layer that a root process may not trust is reported (once per file): its file and
  // why it was skipped. Unset, such layers are skipped silently.
  using UntrustedLayerReport = std::function<void(const std::string& file, const std::string&)>;
  void reportUntrustedLayersTo(UntrustedLayerReport report);

 private:
  enum class LayerKind { Managed, User, AnyUser };
  struct Layer {
    std::filesystem::path file;
    LayerKind kind;
    const char* name;
  };
  struct TrustState;

  std::vector<Layer> layers() const;
  LayerReading readLayer(const Layer& layer) const;
  Plist loadLayer(const Layer& layer) const;
  // Why a root process may not use the layer it just read; empty when it may.
  std::string distrust(const Layer& layer, const FileOwnership& file) const;
  template <typename Change>
  Status changeUserLayer(Change change) const;

  Env* env_;
  std::string domain_;
  RootPrefix root_;
  UserAccount user_;
  // Layers others could write are a way into root, so a root process checks who may write them.
  bool runsAsRoot_;
  std::optional<unsigned> userUid_;  // who may also own the user layer; looked up once
  std::shared_ptr<TrustState> trust_;
};

}  // namespace shelvo::platform
