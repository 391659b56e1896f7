#include "agent/shelvo_agent_controller.h"

// Commands whose implementation has not landed yet. They say so and fail: a command that did
// nothing must never report success.
namespace shelvo {

void ShelvoAgentController::commandNotAvailable(std::string_view command) {
  print("shelvo: " + std::string(command) + " is not available in this build yet");
  exit(69);
}

void ShelvoAgentController::postNotification(const std::string&, const std::optional<std::string>&,
                                             const std::string&,
                                             const std::optional<std::string>&) {
  commandNotAvailable("--notify");
}

}  // namespace shelvo
