#include <sys/stat.h>

#include <cstdio>
#include <semaphore>

#include "agent/service/shelvo_api_endpoints.h"
#include "agent/shelvo_agent_controller.h"
#include "platform/notifications/notification_center.h"
#include "platform/system/unique_string.h"

namespace shelvo {
namespace {

constexpr std::chrono::seconds kDeliveryPause(1);

// The extension of the URL's last path component, query and fragment left out.
std::string pathExtension(std::string_view url) {
  if (auto scheme = url.find("://"); scheme != std::string_view::npos) {
    url.remove_prefix(scheme + 3);
    url.remove_prefix(std::min(url.size(), url.find('/')));
  }
  url = url.substr(0, url.find_first_of("?#"));
  std::string_view name = url.substr(url.rfind('/') + 1);
  auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return "";
  return std::string(name.substr(dot + 1));
}

}  // namespace

void ShelvoAgentController::postNotification(const std::string& title,
                                             const std::optional<std::string>& subtitle,
                                             const std::string& body,
                                             const std::optional<std::string>& icon) {
  // The settings are asked first and answered before anything is shown, so a denied
  // authorisation never races the rest.
  platform::NotificationCenter center;
  if (center.authorizationStatus() == platform::NotificationAuthorization::Authorized) {
    notifierLogger.debug("Notification authorization are already granted");
  } else {
    notifierLogger.error("Notification authorization denied");
    exit(0);
  }

  platform::NotificationContent content;
  content.title = title;
  content.body = body;
  if (subtitle) content.subtitle = *subtitle;

  if (icon) attachIcon(*icon, content);

  center.add(platform::makeUUIDString(), content);
  platform_.sleeper->sleepFor(kDeliveryPause);
}

void ShelvoAgentController::attachIcon(const std::string& iconURL,
                                       platform::NotificationContent& content) {
  if (!ShelvoAPIEndpoints::isAbsoluteHttpsURL(iconURL)) {
    // Not a URL this agent downloads from: posted without an icon.
    notifierLogger.error("Failed to download icon from URL");
    notifierLogger.error("%s",
                         {platform::urlErrorDescription(platform::kURLErrorUnsupportedURL, "")});
    return;
  }
  std::string extension = pathExtension(iconURL);
  if (extension.empty()) extension = "png";
  std::binary_semaphore downloaded{0};
  platform::URLRequest request;
  request.url = iconURL;
  platform::URLSession(platform_.urlSession)
      .downloadTask(std::move(request), [&](platform::DownloadTaskResult result) {
        if (result.error) {
          notifierLogger.error("Failed to download icon from URL");
          notifierLogger.error("%s", {result.error->localizedDescription});
        }
        if (result.location) {
          std::string uniqueName = platform::globallyUniqueString();
          std::filesystem::path destination =
              std::filesystem::temp_directory_path() / (uniqueName + "." + extension);
          std::error_code moveError;
          std::filesystem::rename(*result.location, destination, moveError);
          // The desktop user's notification server reads the file.
          if (!moveError) ::chmod(destination.c_str(), 0644);
          auto attachment = moveError
                                ? platform::Result<platform::NotificationAttachment>(
                                      platform::Error{moveError.message()})
                                : platform::makeNotificationAttachment(uniqueName, destination);
          if (attachment) {
            content.attachments = {*attachment};
          } else {
            notifierLogger.error("Failed to attach icon to notification");
            notifierLogger.error("%s", {attachment.error().message});
          }
        }
        downloaded.release();
      });
  downloaded.acquire();
}

}  // namespace shelvo
