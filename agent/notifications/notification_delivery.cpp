
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <semaphore>

#include "agent/notifications/notification_delivery.h"
#include "agent/service/shelvo_api_endpoints.h"
#include "base/path.h"
#include "platform/http/url_syntax.h"
#include "platform/notifications/as_user.h"
#include "platform/notifications/desktop_sessions.h"
#include "platform/notifications/notification_center.h"
#include "platform/system/unique_string.h"
#include "platform/text/percent_encoding.h"

namespace shelvo {
namespace {

constexpr std::chrono::seconds kDeliveryPause(1);

// The extension of the URL's path as the platform gives it: the last path component, trailing
// slashes and the query and fragment left out, percent-decoded.
std::string pathExtension(std::string_view url) {
  url = platform::splitURL(url).path;
  while (!url.empty() && url.back() == '/') url.remove_suffix(1);
  std::string_view last = url.substr(url.rfind('/') + 1);
  std::string name = platform::removingPercentEncoding(last).value_or(std::string(last));
  auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "";
  return name.substr(dot + 1);
}

// What a child that has become a session's user reports.
enum DeliveryStatus : int { kDelivered = 0, kNoServer = 1, kNotDelivered = 2 };

// In the child: the user's own session bus, then the server on it.
int deliverOnUsersBus(const platform::Path& bus, const platform::NotificationContent* content,
                      const std::string& identifier) {
  ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + bus.string()).c_str(), 1);
  platform::NotificationCenter center;
  if (center.authorizationStatus() != platform::NotificationAuthorization::Authorized)
    return kNoServer;
  if (content == nullptr) return kDelivered;
  return center.add(identifier, *content) ? kDelivered : kNotDelivered;
}

// A session's server gets this long, connecting and authenticating included, before its child
// is ended and the session counts as one whose server did not answer.
constexpr std::chrono::seconds kSessionDeadline(5);

// Runs work for every session at once, each in a child that has become the session's user;
// what each returned, in the order of the sessions.
std::vector<platform::Result<int>> asEachSessionsUser(
    const std::vector<platform::DesktopSession>& sessions,
    const std::function<int(const platform::DesktopSession&)>& work) {
  std::vector<platform::Result<platform::UserChild>> children;
  for (const auto& session : sessions)
    children.push_back(platform::UserChild::start(session.uid, [&] { return work(session); }));
  std::vector<platform::Result<int>> outcomes;
  for (auto& child : children)
    outcomes.push_back(child ? child->finish(kSessionDeadline) : child.error());
  return outcomes;
}

}  // namespace

NotificationDelivery::NotificationDelivery(const AgentPlatform& platform,
                                           const platform::Logger& logger)
    : platform_(platform), logger_(logger) {}

bool NotificationDelivery::post(const std::string& title,
                                const std::optional<std::string>& subtitle, const std::string& body,
                                const std::optional<std::string>& icon) {
  // Root has no desktop: its notifications go to the people logged in at the machine.
  if (platform_.user.name == "root") return postToDesktopSessions(title, subtitle, body, icon);
  // The settings are asked first and answered before anything is shown, so a denied
  // authorisation never races the rest.
  auto center = platform_.services->notificationCenter();
  if (center->authorizationStatus() == platform::NotificationAuthorization::Authorized) {
    logger_.debug("Notification authorization are already granted");
  } else {
    logger_.error("Notification authorization denied");
    return false;
  }
  auto content = notificationContent(title, subtitle, body, icon);
  if (auto added = center->add(platform::makeUUIDString(), content); !added) {
    logger_.error("Cannot post the notification: %{public}s", {added.error().fullDescription()});
    return false;
  }
  platform_.env->sleepFor(kDeliveryPause);
  return true;
}

bool NotificationDelivery::postToDesktopSessions(const std::string& title,
                                                 const std::optional<std::string>& subtitle,
                                                 const std::string& body,
                                                 const std::optional<std::string>& icon) {
  auto survey = platform::findDesktopSessions(platform_.root);
  if (!survey) logger_.debug("No desktop sessions: %{public}s", {survey.error().message});
  std::vector<platform::DesktopSession> authorised;
  if (survey) {
    for (const auto& skipped : survey->skipped)
      logger_.debug("Not notifying %{public}s", {skipped});
    // Never as root on a user's bus: a child that has become the user asks its server.
    auto answers =
        asEachSessionsUser(survey->sessions, [](const platform::DesktopSession& session) {
          return deliverOnUsersBus(session.bus, nullptr, "");
        });
    for (std::size_t i = 0; i < answers.size(); ++i) {
      const auto& session = survey->sessions[i];
      const auto& answer = answers[i];
      if (answer && *answer == kDelivered) {
        authorised.push_back(session);
      } else if (!answer && answer.error().is(platform::ErrorKind::timedOut)) {
        // A user's bus that stalls costs the run no more than the deadline.
        logger_.log("Not notifying session %{public}s: %{public}s",
                    {session.id, "its session bus did not answer within 5 seconds"});
      } else {
        logger_.debug(
            "Not notifying session %{public}s: %{public}s",
            {session.id, answer ? "no notification server answered" : answer.error().message});
      }
    }
  }
  if (authorised.empty()) {
    logger_.error("Notification authorization denied");
    return false;
  }
  logger_.debug("Notification authorization are already granted");
  auto content = notificationContent(title, subtitle, body, icon);
  std::string identifier = platform::makeUUIDString();
  auto posted = asEachSessionsUser(authorised, [&](const platform::DesktopSession& session) {
    return deliverOnUsersBus(session.bus, &content, identifier);
  });
  for (std::size_t i = 0; i < posted.size(); ++i) {
    if (!posted[i] || *posted[i] != kDelivered) {
      logger_.error("Failed to post the notification to session %{public}s: %{public}s",
                    {authorised[i].id,
                     posted[i] ? "the notification server refused it" : posted[i].error().message});
    }
  }
  platform_.env->sleepFor(kDeliveryPause);
  return true;
}

platform::NotificationContent NotificationDelivery::notificationContent(
    const std::string& title, const std::optional<std::string>& subtitle, const std::string& body,
    const std::optional<std::string>& icon) {
  platform::NotificationContent content;
  content.title = title;
  content.body = body;
  // An empty subtitle is no subtitle, not an empty first line.
  if (subtitle && !subtitle->empty()) content.subtitle = *subtitle;
  if (icon) attachIcon(*icon, content);
  return content;
}

void NotificationDelivery::attachIcon(const std::string& iconURL,
                                      platform::NotificationContent& content) {
  if (!ShelvoAPIEndpoints::isAbsoluteHttpsURL(iconURL)) {
    // Not a URL this agent downloads from: posted without an icon.
    logger_.error("Failed to download icon from URL");
    logger_.error("%s", {platform::urlErrorDescription(platform::kURLErrorUnsupportedURL, "")});
    return;
  }
  std::string extension = pathExtension(iconURL);
  if (extension.empty()) extension = "png";
  std::binary_semaphore downloaded{0};
  platform::URLRequest request;
  request.url = iconURL;
  platform_.services->downloadTask(
      platform_.urlSession, std::move(request), [&](platform::DownloadTaskResult result) {
        if (result.error) {
          logger_.error("Failed to download icon from URL");
          logger_.error("%s", {result.error->localizedDescription});
        }
        if (result.location) {
          std::string uniqueName = platform::globallyUniqueString();
          platform::Path destination =
              platform_.env->temporaryFolder() / (uniqueName + "." + extension);
          auto moved = platform_.env->renameFile(*result.location, destination);
          const bool renamed = static_cast<bool>(moved);
          // The desktop user's notification server reads the file.
          if (moved) moved = platform_.env->setMode(destination, 0644);
          auto attachment = !moved
                                ? platform::Result<platform::NotificationAttachment>(moved.error())
                                : platform::makeNotificationAttachment(uniqueName, destination);
          if (attachment) {
            content.attachments = {*attachment};
          } else {
            logger_.error("Failed to attach icon to notification");
            logger_.error("%s", {attachment.error().message});
            // Nothing will read it: leave no file of root's behind in the temporary folder
            // (the download's own file goes with its task).
            if (renamed) platform_.env->removeFile(destination).ignoreError();
          }
        }
        downloaded.release();
      });
  downloaded.acquire();
}

}  // namespace shelvo
