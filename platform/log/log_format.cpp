#include "platform/log/log_format.h"

#include <array>
#include <cstdio>
#include <ctime>

namespace shelvo::platform {
namespace {

void appendArgument(std::string& out, const LogArgument* argument, bool isPublic) {
  if (argument == nullptr) {
    out.append("(null)");
    return;
  }
  if (const auto* number = std::get_if<std::int64_t>(argument)) {
    out.append(std::to_string(*number));
    return;
  }
  if (!isPublic) {
    out.append("<private>");
    return;
  }
  out.append(std::get<std::string_view>(*argument));
}

}  // namespace

std::string rfc3339(std::chrono::system_clock::time_point moment) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
  auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(moment.time_since_epoch()) % 1000;
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  std::array<char, 40> text{};
  std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text.data() + length, text.size() - length, ".%03dZ",
                static_cast<int>(millis.count()));
  return text.data();
}

std::string formatLogMessage(std::string_view format, std::initializer_list<LogArgument> arguments,
                             bool revealPrivate) {
  static constexpr std::array<std::pair<std::string_view, bool>, 6> kSpecifiers{{
      {"%{public}s", true},
      {"%{public}@", true},
      {"%ld", true},
      {"%s", false},
      {"%@", false},
      {"%d", true},
  }};
  std::string out;
  out.reserve(format.size());
  auto next = arguments.begin();
  while (!format.empty()) {
    std::size_t percent = format.find('%');
    out.append(format.substr(0, percent));
    if (percent == std::string_view::npos) break;
    format.remove_prefix(percent);
    if (format.starts_with("%%")) {
      out.push_back('%');
      format.remove_prefix(2);
      continue;
    }
    bool matched = false;
    for (const auto& [specifier, isPublic] : kSpecifiers) {
      if (!format.starts_with(specifier)) continue;
      const LogArgument* argument = next != arguments.end() ? &*next++ : nullptr;
      appendArgument(out, argument, isPublic || revealPrivate);
      format.remove_prefix(specifier.size());
      matched = true;
      break;
    }
    if (!matched) {
      out.push_back('%');
      format.remove_prefix(1);
    }
  }
  return out;
}

}  // namespace shelvo::platform
