// shelvo-defaults: reads, writes and deletes preference keys through the same layered store the
// agent reads, so admins can set the credential, the update interval and the rest.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/defaults/preferences.h"
#include "platform/env/env.h"
#include "platform/plist/plist.h"
#include "platform/system/root_prefix.h"
#include "platform/system/user.h"

namespace {

using shelvo::platform::Plist;

constexpr const char* kUsage =
    "usage: shelvo-defaults read DOMAIN [KEY]\n"
    "       shelvo-defaults write DOMAIN KEY -string|-int|-bool|-array|-data VALUE...\n"
    "       shelvo-defaults delete DOMAIN KEY\n";

int usageError(const std::string& message) {
  std::cerr << "shelvo-defaults: " << message << "\n" << kUsage;
  return 2;
}

std::string quoted(const std::string& text) {
  bool plain = !text.empty();
  for (unsigned char c : text) {
    if (!(std::isalnum(c) || c == '.' || c == '_' || c == '-' || c == '/')) plain = false;
  }
  if (plain) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    if (c == '\n') {
      out.append("\\n");
      continue;
    }
    out.push_back(c);
  }
  return out + "\"";
}

// The old-style text the platform's defaults tool prints.
std::string describe(plist_t node, int indent) {
  std::string pad(static_cast<std::size_t>(indent) * 4, ' ');
  std::string inner(static_cast<std::size_t>(indent + 1) * 4, ' ');
  switch (plist_get_node_type(node)) {
    case PLIST_STRING:
      return quoted(*shelvo::platform::stringValue(node));
    case PLIST_BOOLEAN:
      return *shelvo::platform::boolValue(node) ? "1" : "0";
    case PLIST_UINT:
      return std::to_string(*shelvo::platform::integerValue(node));
    case PLIST_REAL:
      return std::to_string(*shelvo::platform::realValue(node));
    case PLIST_DATA: {
      std::string bytes = *shelvo::platform::dataValue(node);
      std::string hex;
      for (unsigned char c : bytes) {
        static constexpr char kHex[] = "0123456789abcdef";
        hex.push_back(kHex[c >> 4]);
        hex.push_back(kHex[c & 15]);
      }
      return "{length = " + std::to_string(bytes.size()) + ", bytes = 0x" + hex + "}";
    }
    case PLIST_ARRAY: {
      std::string out = "(\n";
      uint32_t count = plist_array_get_size(node);
      for (uint32_t i = 0; i < count; ++i) {
        out += inner + describe(plist_array_get_item(node, i), indent + 1);
        out += i + 1 < count ? ",\n" : "\n";
      }
      return out + pad + ")";
    }
    case PLIST_DICT: {
      std::string out = "{\n";
      for (const auto& key : shelvo::platform::dictionaryKeys(node)) {
        out += inner + quoted(key) + " = " +
               describe(shelvo::platform::dictionaryItem(node, key), indent + 1) + ";\n";
      }
      return out + pad + "}";
    }
    default:
      return "<unsupported value>";
  }
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

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) return usageError("missing command or domain");
  const std::string& command = args[0];
  shelvo::platform::Preferences preferences(
      args[1], shelvo::platform::RootPrefix::fromEnvironment(shelvo::platform::PosixEnv()),
      shelvo::platform::effectiveUserAccount());
  // Shows, as the agent logs, which files a root process leaves out and why.
  preferences.reportUntrustedLayersTo([](const std::string& file, const std::string& reason) {
    std::cerr << "shelvo-defaults: skipping " << file << ": " << reason << "\n";
  });
  if (command == "read") {
    if (args.size() > 3) return usageError("read takes a domain and at most one key");
    if (args.size() == 2) {
      Plist all = preferences.dictionaryRepresentation();
      if (shelvo::platform::dictionaryKeys(all.get()).empty()) {
        std::cerr << "Domain " << args[1] << " does not exist\n";
        return 1;
      }
      std::cout << describe(all.get(), 0) << "\n";
      return 0;
    }
    Plist value = preferences.objectForKey(args[2]);
    if (!value) {
      std::cerr << "The domain/default pair of (" << args[1] << ", " << args[2]
                << ") does not exist\n";
      return 1;
    }
    std::cout << describe(value.get(), 0) << "\n";
    return 0;
  }
  if (command == "write") {
    if (args.size() < 4) return usageError("write needs a domain, a key and a typed value");
    return writeKey(preferences, args[2], args[3],
                    std::vector<std::string>(args.begin() + 4, args.end()));
  }
  if (command == "delete") {
    if (args.size() != 3) return usageError("delete needs a domain and a key");
    if (!preferences.objectForKey(args[2])) {
      std::cerr << "The domain/default pair of (" << args[1] << ", " << args[2]
                << ") does not exist\n";
      return 1;
    }
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
