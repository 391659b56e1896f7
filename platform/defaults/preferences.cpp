#include "platform/defaults/preferences.h"

#include <mutex>
#include <set>

#include "platform/defaults/conversions.h"
#include "platform/env/files.h"
#include "platform/system/file_lock.h"

namespace shelvo::platform {
namespace {

constexpr std::size_t kMaxPreferencesFile = 16 * 1024 * 1024;
constexpr unsigned kFileMode = 0600;
constexpr unsigned kFolderMode = 0700;

Plist dictionaryFrom(const std::string& bytes) {
  Plist root = parsePlist(bytes);
  return isDictionary(root.get()) ? std::move(root) : nullptr;
}

// A missing, unreadable or corrupt file, or one whose root is not a dictionary, counts as empty.
Plist loadDictionary(const Env& env, const std::filesystem::path& file) {
  auto bytes = env.readFile(file, kMaxPreferencesFile);
  return bytes ? dictionaryFrom(*bytes) : nullptr;
}

}  // namespace

struct Preferences::TrustState {
  std::mutex mutex;
  std::set<std::filesystem::path> reported;
  UntrustedLayerReport report;
};

Preferences::Preferences(Env& env, std::string domain, RootPrefix root, UserAccount user)
    : env_(&env),
      domain_(std::move(domain)),
      root_(std::move(root)),
      user_(std::move(user)),
      runsAsRoot_(::geteuid() == 0),
      userUid_(runsAsRoot_ ? (user_.uid ? user_.uid : uidOfUser(user_.name)) : std::nullopt),
      trust_(std::make_shared<TrustState>()) {}

void Preferences::reportUntrustedLayersTo(UntrustedLayerReport report) {
  std::lock_guard lock(trust_->mutex);
  trust_->report = std::move(report);
}

std::optional<Preferences> Preferences::openSuite(Env& env, std::string domain,
                                                  const RootPrefix& root, const UserAccount& user,
                                                  const std::optional<std::string>& mainBundleId) {
  if (domain == "NSGlobalDomain" || (mainBundleId && domain == *mainBundleId)) return std::nullopt;
  return Preferences(env, std::move(domain), root, user);
}

std::vector<Preferences::Layer> Preferences::layers() const {
  const std::string file = domain_ + ".plist";
  std::vector<Layer> layers;
  if (!user_.name.empty() && user_.name.find('/') == std::string::npos) {
    layers.push_back({root_.resolve("/etc/shelvo/managed") / user_.name / file, LayerKind::Managed,
                      "managed, this user"});
  }
  layers.push_back(
      {root_.resolve("/etc/shelvo/managed") / file, LayerKind::Managed, "managed, any user"});
  if (auto user = userLayerFile()) layers.push_back({*user, LayerKind::User, "this user"});
  layers.push_back({root_.resolve("/etc/shelvo") / file, LayerKind::AnyUser, "any user"});
  return layers;
}

std::vector<std::filesystem::path> Preferences::layerFiles() const {
  std::vector<std::filesystem::path> files;
  for (const auto& layer : layers()) files.push_back(layer.file);
  return files;
}

std::string Preferences::distrust(const Layer& layer, const FileOwnership& file) const {
  // The user layer may also belong to the user whose layer it is.
  auto unsafe = [&](const FileOwnership& entry) {
    bool trustedOwner =
        entry.owner == 0 || (layer.kind == LayerKind::User && userUid_ && entry.owner == *userUid_);
    return !trustedOwner || entry.writableByOthers ||
           (layer.kind != LayerKind::User && entry.writableByGroup);
  };
  const char* rule = layer.kind == LayerKind::User
                         ? "is not owned by root or its user, or is writable by others"
                         : "is not owned by root or is writable by group or others";
  if (unsafe(file)) return "the file " + std::string(rule);
  // The user layer's own folder; for the shared layers every folder up to /etc/shelvo.
  const std::filesystem::path top = root_.resolve("/etc/shelvo");
  for (auto folder = layer.file.parent_path();; folder = folder.parent_path()) {
    auto owner = env_->ownershipOf(folder);
    if (!owner) return owner.error().message;
    if (unsafe(*owner)) return "the folder " + folder.string() + " " + rule;
    if (layer.kind == LayerKind::User || folder == top || folder == folder.parent_path()) break;
  }
  return "";
}

Preferences::LayerReading Preferences::readLayer(const Layer& layer) const {
  using State = LayerReading::State;
  LayerReading reading{layer.file, layer.name, State::Missing, "", nullptr};
  FileOwnership ownership;
  auto bytes = env_->readOwnedFile(layer.file, kMaxPreferencesFile, ownership);
  if (!bytes) {
    const Error& error = bytes.error();
    if (error.is(ErrorKind::notFound)) return reading;
    bool denied = error.is(ErrorKind::denied);
    reading.state = denied ? State::Unreadable : State::Unusable;
    reading.reason = denied ? accessDenial(layer.file, user_.name) : error.message;
    return reading;
  }
  if (runsAsRoot_) {
    if (std::string reason = distrust(layer, ownership); !reason.empty()) {
      std::lock_guard lock(trust_->mutex);
      if (trust_->report && trust_->reported.insert(layer.file).second)
        trust_->report(layer.file.string(), reason);
      reading.state = State::Skipped;
      reading.reason = std::move(reason);
      return reading;
    }
  }
  reading.dictionary = dictionaryFrom(*bytes);
  reading.state = reading.dictionary ? State::Used : State::Unusable;
  if (!reading.dictionary) reading.reason = "not a property list holding a dictionary";
  return reading;
}

Plist Preferences::loadLayer(const Layer& layer) const {
  return readLayer(layer).dictionary;
}

std::vector<Preferences::LayerReading> Preferences::readLayers() const {
  std::vector<LayerReading> readings;
  for (const auto& layer : layers()) readings.push_back(readLayer(layer));
  return readings;
}

std::optional<std::filesystem::path> Preferences::userLayerFile() const {
  if (!user_.home) return std::nullopt;
  return root_.resolve(*user_.home) / ".config/shelvo" / (domain_ + ".plist");
}

Plist Preferences::objectForKey(const std::string& key) const {
  for (const auto& layer : layers()) {
    Plist dictionary = loadLayer(layer);
    if (plist_t value = dictionaryItem(dictionary.get(), key)) return copyPlist(value);
  }
  return nullptr;
}

std::optional<std::filesystem::path> Preferences::fileHolding(const std::string& key) const {
  for (const auto& layer : layers()) {
    Plist dictionary = loadLayer(layer);
    if (dictionaryItem(dictionary.get(), key) != nullptr) return layer.file;
  }
  return std::nullopt;
}

std::optional<std::string> Preferences::stringForKey(const std::string& key) const {
  return stringValue(objectForKey(key).get());
}

bool Preferences::boolForKey(const std::string& key) const {
  return boolFromPlist(objectForKey(key).get());
}

std::int64_t Preferences::integerForKey(const std::string& key) const {
  return integerFromPlist(objectForKey(key).get());
}

std::optional<std::vector<std::string>> Preferences::stringArrayForKey(
    const std::string& key) const {
  return stringArrayFromPlist(objectForKey(key).get());
}

std::optional<std::string> Preferences::dataForKey(const std::string& key) const {
  return dataValue(objectForKey(key).get());
}

Plist Preferences::dictionaryRepresentation() const {
  Plist merged = makeDictionary();
  auto all = layers();
  // Lowest precedence first, so higher layers overwrite.
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    Plist layer = loadLayer(*it);
    for (const auto& key : dictionaryKeys(layer.get())) {
      plist_dict_set_item(merged.get(), key.c_str(), plist_copy(dictionaryItem(layer.get(), key)));
    }
  }
  return merged;
}

template <typename Change>
Status Preferences::changeUserLayer(Change change) const {
  auto file = userLayerFile();
  if (!file) return Error{"the user " + user_.name + " has no home folder for preferences"};
  if (auto made = env_->makeFolders(file->parent_path(), kFolderMode); !made) return made;
  std::filesystem::path lockPath = *file;
  lockPath += ".lock";
  auto lock = FileLock::exclusive(lockPath, kFileMode);
  if (!lock) return lock.error();
  Plist dictionary = loadDictionary(*env_, *file);
  if (!dictionary) dictionary = makeDictionary();
  change(dictionary.get());
  return env_->replaceFile(*file, toBinaryPlist(dictionary.get()), kFileMode);
}

Status Preferences::setObject(const std::string& key, Plist value) const {
  return changeUserLayer(
      [&](plist_t dictionary) { plist_dict_set_item(dictionary, key.c_str(), value.release()); });
}

Status Preferences::removeObject(const std::string& key) const {
  return changeUserLayer([&](plist_t dictionary) {
    if (dictionaryItem(dictionary, key) != nullptr) plist_dict_remove_item(dictionary, key.c_str());
  });
}

}  // namespace shelvo::platform
