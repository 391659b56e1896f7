#include "platform/bundle/localization.h"

#include "platform/env/env.h"

#include "platform/plist/plist.h"

namespace shelvo::platform {
namespace {

constexpr std::size_t kMaxStringsFile = 4 * 1024 * 1024;

// A quoted string of a .strings file, with its escapes; advances text past it.
std::optional<std::string> readQuoted(std::string_view& text) {
  if (text.empty() || text.front() != '"') return std::nullopt;
  std::string value;
  for (std::size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      text.remove_prefix(i + 1);
      return value;
    }
    if (c == '\\' && i + 1 < text.size()) {
      char escaped = text[++i];
      value.push_back(escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped);
      continue;
    }
    value.push_back(c);
  }
  return std::nullopt;
}

// The text format: "key" = "value"; with comments.
std::optional<std::string> lookUpInStringsText(std::string_view text, const std::string& key) {
  while (!text.empty()) {
    char c = text.front();
    if (text.starts_with("/*")) {
      auto end = text.find("*/", 2);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 2);
    } else if (text.starts_with("//")) {
      auto end = text.find('\n');
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    } else if (c == '"') {
      auto name = readQuoted(text);
      while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
      if (!name || text.empty() || text.front() != '=') return std::nullopt;
      text.remove_prefix(1);
      while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
      auto value = readQuoted(text);
      if (!value) return std::nullopt;
      if (*name == key) return value;
    } else {
      text.remove_prefix(1);
    }
  }
  return std::nullopt;
}

std::optional<std::string> lookUp(const Env& env, const std::filesystem::path& file,
                                  const std::string& key) {
  auto bytes = env.readFile(file, kMaxStringsFile);
  if (!bytes) return std::nullopt;
  if (Plist table = parsePlist(*bytes); isDictionary(table.get())) {
    return stringValue(dictionaryItem(table.get(), key));
  }
  return lookUpInStringsText(*bytes, key);
}

}  // namespace

std::string localizedString(const std::optional<Bundle>& bundle, const std::string& key,
                            const Env& env) {
  if (!bundle) return key;
  std::vector<std::string> languages;
  if (auto lang = env.variable("LANG"); lang && !lang->empty()) {
    std::string language(*lang);
    language = language.substr(0, language.find_first_of("_.@"));
    if (language != "C" && language != "POSIX") languages.push_back(language);
  }
  languages.push_back("en");
  languages.push_back("Base");
  for (const auto& language : languages) {
    auto file =
        bundle->path() / "Contents" / "Resources" / (language + ".lproj") / "Localizable.strings";
    if (auto value = lookUp(env, file, key)) return *value;
  }
  return key;
}

}  // namespace shelvo::platform
