#include "platform/notifications/notification_center.h"

#include <cstdint>
#include <cstring>

#include "platform/env/files.h"
#include "platform/text/percent_encoding.h"

namespace shelvo::platform {
namespace {

constexpr std::uint64_t kCallTimeoutMicroseconds = 5'000'000;
constexpr const char* kDestination = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kApplicationName = "Shelvo";

bool isImage(std::string_view head) {
  return head.starts_with("\x89PNG") || head.starts_with("\xFF\xD8\xFF") ||
         head.starts_with("GIF8");
}

std::string escapeMarkup(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out.append("&amp;");
        break;
      case '<':
        out.append("&lt;");
        break;
      case '>':
        out.append("&gt;");
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

}  // namespace

Result<NotificationAttachment> makeNotificationAttachment(std::string identifier,
                                                          std::filesystem::path file) {
  auto head = readFile(file, 64 * 1024 * 1024);
  if (!head) return Error{"The attachment file could not be read."};
  if (!isImage(*head)) return Error{"Unrecognized attachment file type"};
  return NotificationAttachment{std::move(identifier), std::move(file)};
}

NotificationAuthorization NotificationCenter::authorizationStatus() {
  auto connection = openSessionBus();
  if (!connection) return NotificationAuthorization::Denied;
  SdBusError error;
  auto reply = connection->call({kDestination, kPath, kInterface, "GetCapabilities"}, nullptr,
                                kCallTimeoutMicroseconds, error);
  if (!reply) return NotificationAuthorization::Denied;
  const SdBusApi* api = connection->api;
  if (api->enterContainer(reply->get(), 'a', "s") >= 0) {
    const char* capability = nullptr;
    while (api->read(reply->get(), "s", &capability) > 0) {
      if (std::strcmp(capability, "body-markup") == 0) bodyMarkup_ = true;
    }
    api->exitContainer(reply->get());
  }
  connection_ = std::move(*connection);
  return NotificationAuthorization::Authorized;
}

Status NotificationCenter::add(const std::string& identifier, const NotificationContent& content) {
  if (!connection_) return Error{"not authorised"};
  std::string body = bodyMarkup_ ? escapeMarkup(content.body) : content.body;
  if (content.subtitle) {
    body = (bodyMarkup_ ? escapeMarkup(*content.subtitle) : *content.subtitle) + "\n" + body;
  }
  std::string image;
  if (!content.attachments.empty())
    image = fileURLForPath(content.attachments.front().file.string());
  SdBusError error;
  auto reply = connection_->call(
      {kDestination, kPath, kInterface, "Notify"},
      [&](const SdBusApi* api, sd_bus_message* call) {
        int rc = api->append(call, "susssas", kApplicationName, 0u, "", content.title.c_str(),
                             body.c_str(), 0);
        if (rc >= 0) rc = api->openContainer(call, 'a', "{sv}");
        if (rc >= 0 && !image.empty())
          rc = api->append(call, "{sv}", "image-path", "s", image.c_str());
        if (rc >= 0) rc = api->append(call, "{sv}", "x-shelvo-identifier", "s", identifier.c_str());
        if (rc >= 0) rc = api->closeContainer(call);
        if (rc >= 0) rc = api->append(call, "i", -1);
        return rc;
      },
      kCallTimeoutMicroseconds, error);
  if (!reply) return reply.error();
  return success();
}

}  // namespace shelvo::platform
