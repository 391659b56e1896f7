#pragma once

#include <optional>
#include <string>

#include "agent/agent_platform.h"
#include "platform/log/logger.h"
#include "platform/notifications/notification_center.h"

namespace shelvo {

// Posts one notification: to the caller's desktop, or, for root, which has none, to every
// active local graphical session as its user. The icon is downloaded and attached first.
class NotificationDelivery {
 public:
  NotificationDelivery(const AgentPlatform& platform, const platform::Logger& logger);

  // False when no notification server may be used: authorisation was denied.
  bool post(const std::string& title, const std::optional<std::string>& subtitle,
            const std::string& body, const std::optional<std::string>& icon);

 private:
  bool postToDesktopSessions(const std::string& title, const std::optional<std::string>& subtitle,
                             const std::string& body, const std::optional<std::string>& icon);
  platform::NotificationContent notificationContent(const std::string& title,
                                                    const std::optional<std::string>& subtitle,
                                                    const std::string& body,
                                                    const std::optional<std::string>& icon);
  // Downloads the icon and attaches it to content; failures are logged and leave no icon.
  void attachIcon(const std::string& iconURL, platform::NotificationContent& content);

  const AgentPlatform& platform_;
  const platform::Logger& logger_;
};

}  // namespace shelvo
