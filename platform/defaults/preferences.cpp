#include "platform/defaults/preferences.h"

#include <fcntl.h>
#include <sys/file.h>

#include "platform/defaults/conversions.h"
#include "platform/system/files.h"
#include "platform/system/unique_fd.h"

namespace shelvo::platform {
namespace {

constexpr std::size_t kMaxPreferencesFile = 16 * 1024 * 1024;
constexpr unsigned kFileMode = 0600;
constexpr unsigned kFolderMode = 0700;

// A missing, unreadable or corrupt file, or one whose root is not a dictionary, counts as empty.
Plist loadDictionary(const std::filesystem::path& file) {
  auto bytes = readFile(file, kMaxPreferencesFile);
  if (!bytes) return nullptr;
  Plist root = parsePlist(*bytes);
  return isDictionary(root.get()) ? std::move(root) : nullptr;
}

}  // namespace

Preferences::Preferences(std::string domain, RootPrefix root, UserAccount user)
    : domain_(std::move(domain)), root_(std::move(root)), user_(std::move(user)) {}

std::optional<Preferences> Preferences::openSuite(std::string domain, const RootPrefix& root,
                                                  const UserAccount& user,
                                                  const std::optional<std::string>& mainBundleId) {
  if (domain == "NSGlobalDomain" || (mainBundleId && domain == *mainBundleId)) return std::nullopt;
  return Preferences(std::move(domain), root, user);
}

std::vector<std::filesystem::path> Preferences::layerFiles() const {
  const std::string file = domain_ + ".plist";
  std::vector<std::filesystem::path> layers;
  if (!user_.name.empty() && user_.name.find('/') == std::string::npos) {
    layers.push_back(root_.resolve("/etc/shelvo/managed") / user_.name / file);
  }
  layers.push_back(root_.resolve("/etc/shelvo/managed") / file);
  if (auto user = userLayerFile()) layers.push_back(*user);
  layers.push_back(root_.resolve("/etc/shelvo") / file);
  return layers;
}

std::optional<std::filesystem::path> Preferences::userLayerFile() const {
  if (!user_.home) return std::nullopt;
  return root_.resolve(*user_.home) / ".config/shelvo" / (domain_ + ".plist");
}

Plist Preferences::objectForKey(const std::string& key) const {
  for (const auto& file : layerFiles()) {
    Plist layer = loadDictionary(file);
    if (plist_t value = dictionaryItem(layer.get(), key)) return copyPlist(value);
  }
  return nullptr;
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
  auto layers = layerFiles();
  // Lowest precedence first, so higher layers overwrite.
  for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
    Plist layer = loadDictionary(*it);
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
  if (auto made = makeFolders(file->parent_path(), kFolderMode); !made) return made;
  // The lock sits beside the file: rename replaces the file's inode, so a lock on the file
  // itself would not exclude the next writer.
  std::filesystem::path lockPath = *file;
  lockPath += ".lock";
  UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode));
  if (!lock) return Error{"cannot open lock file " + lockPath.string()};
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return Error{"cannot lock " + lockPath.string()};
  }
  Plist dictionary = loadDictionary(*file);
  if (!dictionary) dictionary = makeDictionary();
  change(dictionary.get());
  return replaceFileAtomically(*file, toBinaryPlist(dictionary.get()), kFileMode);
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
