#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "platform/dbus/bus_connection.h"

namespace shelvo::platform {

struct NotificationAttachment {
  std::string identifier;
  std::filesystem::path file;
};

// Refuses what is not a PNG, JPEG or GIF image, like an unsupported attachment type.
Result<NotificationAttachment> makeNotificationAttachment(std::string identifier,
                                                          std::filesystem::path file);

struct NotificationContent {
  std::string title;
  std::optional<std::string> subtitle;
  std::string body;
  std::vector<NotificationAttachment> attachments;
};

enum class NotificationAuthorization { Authorized, Denied };

// Where notifications go.
class NotificationPoster {
 public:
  virtual ~NotificationPoster() = default;
  virtual NotificationAuthorization authorizationStatus() = 0;
  virtual Status add(const std::string& identifier, const NotificationContent& content) = 0;
};

// The desktop's notification server (org.freedesktop.Notifications) on the caller's session
// bus. A server that answers means authorised; no bus or no server means denied.
class NotificationCenter final : public NotificationPoster {
 public:
  NotificationAuthorization authorizationStatus() override;
  // Delivers at once: the title is the summary, the subtitle the first line of the body, the
  // attachment the image-path hint.
  Status add(const std::string& identifier, const NotificationContent& content) override;

 private:
  std::optional<BusConnection> connection_;
  bool bodyMarkup_ = false;
};

}  // namespace shelvo::platform
