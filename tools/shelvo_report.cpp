// shelvo-report: the agent's last runs, as a table or as JSON.
//   shelvo-report [--json] [--last N]
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/env/env.h"
#include "platform/log/log_format.h"
#include "platform/system/root_prefix.h"
#include "shared/records/run_record.h"

namespace {

int usage(const std::string& problem) {
  std::cerr << "shelvo-report: " << problem << "\nusage: shelvo-report [--json] [--last N]\n";
  return 2;
}

std::string orDash(const std::optional<long>& value) {
  return value ? std::to_string(*value) : "-";
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  std::size_t last = 20;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--json") {
      json = true;
    } else if (argument == "--last" && i + 1 < argc) {
      char* end = nullptr;
      long count = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || count < 1) return usage("--last needs a positive number");
      last = static_cast<std::size_t>(count);
    } else {
      return usage("unknown argument " + argument);
    }
  }
  shelvo::platform::PosixEnv env;
  auto root = shelvo::platform::RootPrefix::fromEnvironment(env);
  auto records = shelvo::loadRunRecords(env, shelvo::runRecordFolder(root.resolve("/")));
  if (records.size() > last) records.erase(records.begin(), records.end() - last);
  if (json) {
    std::cout << "[";
    for (std::size_t i = 0; i < records.size(); ++i) {
      std::string text = shelvo::encodeRunRecord(records[i]);
      while (!text.empty() && text.back() == '\n') text.pop_back();
      std::cout << (i == 0 ? "\n" : ",\n") << text;
    }
    std::cout << (records.empty() ? "]\n" : "\n]\n");
    return 0;
  }
  std::printf("%-24s  %-15s  %-30s  %4s  %6s  %4s  %8s\n", "ENDED", "COMMAND", "APP", "HTTP",
              "SCRIPT", "EXIT", "OUTPUT");
  for (const auto& record : records) {
    std::string scriptStatus =
        record.scriptStatus ? std::to_string(*record.scriptStatus) : std::string("-");
    std::printf("%-24s  %-15s  %-30s  %4s  %6s  %4d  %8llu\n",
                shelvo::platform::rfc3339(record.ended).c_str(), record.command.c_str(),
                record.bundleIdentifier.value_or("-").c_str(), orDash(record.httpStatus).c_str(),
                scriptStatus.c_str(), record.agentStatus,
                static_cast<unsigned long long>(record.outputBytes));
  }
  return 0;
}
