// shelvo-defaults: reads, writes and deletes preference keys through the same layered store the
// agent reads, so admins can set the credential, the update interval and the rest, and explains
// where each value comes from.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/defaults/preferences.h"
#include "platform/env/posix_env.h"
#include "platform/plist/plist.h"
#include "platform/system/root_prefix.h"
#include "platform/system/user.h"
#include "tools/defaults/explain.h"
#include "tools/defaults/plist_text.h"

namespace {

using shelvo::platform::Plist;

constexpr const char* kUsage =
    "usage: shelvo-defaults read DOMAIN [KEY]\n"
    "       shelvo-defaults read-type DOMAIN KEY\n"
    "       shelvo-defaults write DOMAIN KEY -string|-int|-bool|-array|-data VALUE...\n"
    "       shelvo-defaults delete DOMAIN KEY\n"
    "       shelvo-defaults explain DOMAIN\n";

int usageError(const std::string& message) {
  std::cerr << "shelvo-defaults: " << message << "\n" << kUsage;
  return 2;
}

std::optional<bool> parseBool(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (text == "yes" || text == "true" || text == "1") return true;
  if (text == "no" || text == "false" || text == "0") return false;
  return std::nullopt;
}

std::optional<std::int64_t> parseInteger(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return value;
}

std::optional<std::string> parseHex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    auto digit = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    int high = digit(text[i]);
    int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

int writeKey(shelvo::platform::Preferences& preferences, const std::string& key,
             const std::string& type, const std::vector<std::string>& values) {
  if (values.empty()) return usageError("write needs a value after " + type);
  if (type != "-array" && values.size() != 1) return usageError(type + " takes exactly one value");
  Plist value;
  if (type == "-string") {
    value = shelvo::platform::makeString(values[0]);
  } else if (type == "-int" || type == "-integer") {
    auto number = parseInteger(values[0]);
    if (!number) return usageError("not an integer: " + values[0]);
    value = shelvo::platform::makeInteger(*number);
  } else if (type == "-bool" || type == "-boolean") {
    auto flag = parseBool(values[0]);
    if (!flag) return usageError("not a boolean (use YES, NO, true, false, 1 or 0): " + values[0]);
    value = shelvo::platform::makeBool(*flag);
  } else if (type == "-array") {
    value = shelvo::platform::makeStringArray(values);
  } else if (type == "-data") {
    auto bytes = parseHex(values[0]);
    if (!bytes) return usageError("not hexadecimal data: " + values[0]);
    value = shelvo::platform::makeData(*bytes);
  } else {
    return usageError("unknown value type " + type);
  }
  auto written = preferences.setObject(key, std::move(value));
  if (!written) {
    std::cerr << "shelvo-defaults: " << written.error().message << "\n";
    return 1;
  }
  return 0;
}

int doesNotExist(const std::string& domain, const std::string& key) {
  std::cerr << "The domain/default pair of (" << domain << ", " << key << ") does not exist\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) return usageError("missing command or domain");
  const std::string& command = args[0];
  shelvo::platform::PosixEnv env;
  shelvo::platform::Preferences preferences(env, args[1],
                                            shelvo::platform::RootPrefix::fromEnvironment(env),
                                            shelvo::platform::effectiveUserAccount());
  if (command == "explain") {
    if (args.size() != 2) return usageError("explain takes a domain");
    shelvo::tools::explainDomain(preferences, env.variable("SHELVO_SERVICE_URL"), std::cout);
    return 0;
  }
  // Shows, as the agent logs, which files a root process leaves out and why.
  preferences.reportUntrustedLayersTo([](const std::string& file, const std::string& reason) {
    std::cerr << "shelvo-defaults: skipping " << file << ": " << reason << "\n";
  });
  if (command == "read-type") {
    if (args.size() != 3) return usageError("read-type needs a domain and a key");
    Plist value = preferences.objectForKey(args[2]);
    if (!value) return doesNotExist(args[1], args[2]);
    std::cout << "Type is " << shelvo::tools::plistTypeName(value.get()) << "\n";
    return 0;
  }
  if (command == "read") {
    if (args.size() > 3) return usageError("read takes a domain and at most one key");
    if (args.size() == 2) {
      Plist all = preferences.dictionaryRepresentation();
      if (shelvo::platform::dictionaryKeys(all.get()).empty()) {
        std::cerr << "Domain " << args[1] << " does not exist\n";
        return 1;
      }
      std::cout << shelvo::tools::describePlist(all.get()) << "\n";
      return 0;
    }
    Plist value = preferences.objectForKey(args[2]);
    if (!value) return doesNotExist(args[1], args[2]);
    std::cout << shelvo::tools::describePlist(value.get()) << "\n";
    return 0;
  }
  if (command == "write") {
    if (args.size() < 4) return usageError("write needs a domain, a key and a typed value");
    return writeKey(preferences, args[2], args[3],
                    std::vector<std::string>(args.begin() + 4, args.end()));
  }
  if (command == "delete") {
    if (args.size() != 3) return usageError("delete needs a domain and a key");
    if (!preferences.objectForKey(args[2])) return doesNotExist(args[1], args[2]);
    auto removed = preferences.removeObject(args[2]);
    if (!removed) {
      std::cerr << "shelvo-defaults: " << removed.error().message << "\n";
      return 1;
    }
    // Only the user layer is this tool's to change; a value set elsewhere still counts.
    if (auto holder = preferences.fileHolding(args[2])) {
      std::cerr << "shelvo-defaults: " << args[2] << " is still set in " << holder->string()
                << ", which this tool does not change; remove it there\n";
      return 1;
    }
    return 0;
  }
  return usageError("unknown command " + command);
}
