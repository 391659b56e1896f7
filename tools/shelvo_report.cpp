// shelvo-report: the agent's last runs, as a table or as JSON, or one run in full; with --about,
// what was built in.
//   shelvo-report [--json] [--last N | --run ID]
//   shelvo-report --about
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/env/posix_env.h"
#include "platform/log/log_format.h"
#include "platform/system/root_prefix.h"
#include "shared/build/build_settings.h"
#include "shared/records/run_record.h"

namespace {

using shelvo::RunRecord;

int usage(const std::string& problem) {
  std::cerr << "shelvo-report: " << problem
            << "\nusage: shelvo-report [--json] [--last N | --run ID]\n"
               "       shelvo-report --about\n";
  return 2;
}

// The version, and the service URL a run started here or by the timer goes to.
int printAbout(const shelvo::platform::Env& env) {
  std::cout << "Shelvo " << shelvo::builtVersion() << "\n"
            << shelvo::serviceURLLine(env.variable("SHELVO_SERVICE_URL")) << "\n";
  return 0;
}

std::string orDash(const std::optional<long>& value) {
  return value ? std::to_string(*value) : "-";
}

std::string outcomeOf(const RunRecord& record) {
  return record.outcome ? std::string(shelvo::outcomeName(*record.outcome)) : "-";
}

// One line of the table: control characters (a message may hold a line break) become spaces.
std::string oneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return text;
}

// The records are for root and the group adm. Anyone else is told so, not shown an empty table;
// a folder that is not there yet only means that no run has ended.
std::optional<std::string> whyUnreadable(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::directory_iterator listing(folder, error);
  if (!error || error == std::errc::no_such_file_or_directory) return std::nullopt;
  std::string why = "cannot read the run records in " + folder.string() + ": " + error.message();
  if (error == std::errc::permission_denied) why += " (they are for root and the group adm)";
  return why;
}

std::string journalCommand(const RunRecord& record) {
  return "journalctl SHELVO_RUN_ID=" + record.id;
}

void printTable(const std::vector<RunRecord>& records) {
  std::printf("%-8s  %-24s  %-15s  %-30s  %-19s  %4s  %6s  %4s  %8s  %s\n", "RUN", "ENDED",
              "COMMAND", "APP", "OUTCOME", "HTTP", "SCRIPT", "EXIT", "OUTPUT", "MESSAGE");
  for (const auto& record : records) {
    std::string scriptStatus =
        record.scriptStatus ? std::to_string(*record.scriptStatus) : std::string("-");
    std::printf("%-8s  %-24s  %-15s  %-30s  %-19s  %4s  %6s  %4d  %8llu  %s\n",
                (record.id.empty() ? std::string("-") : record.id.substr(0, 8)).c_str(),
                shelvo::platform::rfc3339(record.ended).c_str(), record.command.c_str(),
                record.bundleIdentifier.value_or("-").c_str(), outcomeOf(record).c_str(),
                orDash(record.httpStatus).c_str(), scriptStatus.c_str(), record.agentStatus,
                static_cast<unsigned long long>(record.outputBytes),
                oneLine(record.message.value_or("-")).c_str());
  }
}

void printJson(const std::vector<RunRecord>& records) {
  std::cout << "[";
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::string text = shelvo::encodeRunRecord(records[i]);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::cout << (i == 0 ? "\n" : ",\n") << text;
  }
  std::cout << (records.empty() ? "]\n" : "\n]\n");
}

void printRun(const RunRecord& record, bool json) {
  if (json) {
    auto object = nlohmann::json::parse(shelvo::encodeRunRecord(record));
    object["journal_command"] = journalCommand(record);
    std::cout << object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return;
  }
  auto field = [](const char* name, const std::string& value) {
    std::printf("%-9s %s\n", name, value.c_str());
  };
  field("Run:", record.id);
  field("Command:",
        record.command + (record.bundleIdentifier ? " " + *record.bundleIdentifier : ""));
  field("Agent:", record.version.empty() ? "-" : record.version);
  field("Started:", shelvo::platform::rfc3339(record.started));
  field("Ended:", shelvo::platform::rfc3339(record.ended));
  field("Outcome:", outcomeOf(record));
  field("Message:", oneLine(record.message.value_or("-")));
  field("HTTP:", orDash(record.httpStatus));
  field("Script:", record.scriptStatus ? std::to_string(*record.scriptStatus) : "-");
  field("Exit:", std::to_string(record.agentStatus));
  field("Output:", std::to_string(record.outputBytes) + " bytes; last lines:");
  for (const auto& line : record.lastLines) std::printf("  %s\n", line.c_str());
  field("Journal:", journalCommand(record));
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  bool about = false;
  std::size_t last = 20;
  std::optional<std::string> run;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--json") {
      json = true;
    } else if (argument == "--last") {
      if (i + 1 == argc) return usage("--last needs a number of runs");
      char* end = nullptr;
      long count = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || count < 1)
        return usage("--last needs a positive number, not \"" + std::string(argv[i]) + "\"");
      last = static_cast<std::size_t>(count);
    } else if (argument == "--about") {
      about = true;
    } else if (argument == "--run") {
      if (i + 1 == argc || argv[i + 1][0] == '\0') return usage("--run needs a run id");
      run = argv[++i];
    } else {
      return usage("unknown argument " + argument);
    }
  }
  shelvo::platform::PosixEnv env;
  if (about) return argc == 2 ? printAbout(env) : usage("--about takes no other argument");
  auto root = shelvo::platform::RootPrefix::fromEnvironment(env);
  auto folder = shelvo::runRecordFolder(root.resolve("/"));
  if (auto why = whyUnreadable(folder)) {
    std::cerr << "shelvo-report: " << *why << "\n";
    return 1;
  }
  auto records = shelvo::loadRunRecords(env, folder);
  if (run) {
    // A full id, or the start of one as the table shows it.
    std::vector<const RunRecord*> matches;
    for (const auto& record : records)
      if (!record.id.empty() && record.id.starts_with(*run)) matches.push_back(&record);
    if (matches.size() > 1) {
      std::cerr << "shelvo-report: " << matches.size() << " runs have ids starting with " << *run
                << "; give more of the id\n";
      return 1;
    }
    if (matches.empty()) {
      std::cerr << "shelvo-report: no run with id " << *run << " in " << folder.string()
                << " (the last 100 runs are kept)\n";
      return 1;
    }
    printRun(*matches.front(), json);
    return 0;
  }
  if (records.size() > last) records.erase(records.begin(), records.end() - last);
  if (json) {
    printJson(records);
  } else {
    printTable(records);
  }
  return 0;
}
