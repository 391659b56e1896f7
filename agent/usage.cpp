#include <array>

#include "agent/shelvo_agent_controller.h"

namespace shelvo {
namespace {

struct UsageLine {
  std::string_view left;
  std::string_view description;
};

constexpr std::array<UsageLine, 4> kArguments{{
    {"-i --install BUNDLE_IDENTIFIER",
     "Install app using the Bundle Identifier of the app to install"},
    {"-u --update", "Update all apps"},
    {"-h --help", "Print help"},
    {"-v --version", "Print current version"},
}};
constexpr std::array<UsageLine, 3> kOptions{{
    {"-s --silent", "Hide user notifications when installation or update is completed"},
    {"-d --dock", "Add app to the end of the user's Dock"},
    {"-p --progress", "Show the download progress"},
}};
constexpr UsageLine kSchedule{"--schedule-status",
                              "Show the app update schedule (macOS 13 or later)"};
constexpr std::array<UsageLine, 5> kExamples{{
    {"shelvo --install ostrel.pontiq", "Install Ostrel Pontiq"},
    {"shelvo -i com.google.chrome", "Install Google Chrome"},
    {"shelvo --install ostrel.pontiq --silent", "Install Ostrel Pontiq and hide user notification"},
    {"shelvo --update", "Update all apps found in the App Shelvo"},
    {"shelvo --update --silent",
     "Update all apps found in the App Shelvo and hide user notifications"},
}};

// Nine spaces, the left text, then spaces so the description starts in descriptionColumn
// (counted from 1).
std::string columns(const UsageLine& line, std::size_t descriptionColumn) {
  std::string text(9, ' ');
  text.append(line.left);
  if (text.size() < descriptionColumn - 1) text.resize(descriptionColumn - 1, ' ');
  text.append(line.description);
  return text;
}

}  // namespace

void ShelvoAgentController::printUsage() {
  constexpr std::size_t kOptionColumn = 58;
  constexpr std::size_t kExampleColumn = 74;
  print("");
  print("USAGE");
  print("shelvo ARGUMENT [options]");
  print("");
  print("The following arguments are available:");
  print("");
  for (const auto& line : kArguments) print(columns(line, kOptionColumn));
  print("");
  print("OPTIONS");
  for (const auto& line : kOptions) print(columns(line, kOptionColumn));
  print("");
  print("UPDATE SCHEDULE");
  print(columns(kSchedule, kOptionColumn));
  print("");
  print("EXAMPLES");
  for (const auto& line : kExamples) {
    print(columns(line, kExampleColumn));
    print("");
  }
}

void ShelvoAgentController::printVersion() {
  print("Shelvo Agent version: " + agentVersion() + " (" + agentBuild() + ")");
}

}  // namespace shelvo
