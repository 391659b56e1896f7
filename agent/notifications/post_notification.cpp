#include "agent/notifications/notification_delivery.h"
#include "agent/shelvo_agent_controller.h"

namespace shelvo {

void ShelvoAgentController::postNotification(const std::string& title,
                                             const std::optional<std::string>& subtitle,
                                             const std::string& body,
                                             const std::optional<std::string>& icon) {
  if (!NotificationDelivery(platform_, notifierLogger).post(title, subtitle, body, icon)) exit(0);
}

}  // namespace shelvo
