#include "platform/notifications/notification_center.h"

#include <cstdint>
#include <cstring>

#include "platform/system/files.h"

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

std::string fileURL(const std::filesystem::path& file) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : file.string()) {
    if (std::isalnum(c) || std::strchr("/-._~!$&'()*+,=:@", c) != nullptr) {
      url.push_back(static_cast<char>(c));
    } else {
      url.push_back('%');
      url.push_back(kHex[c >> 4]);
      url.push_back(kHex[c & 0xF]);
    }
  }
  return url;
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
  const SdBusApi* api = connection->api;
  sd_bus_message* rawCall = nullptr;
  if (api->newMethodCall(connection->bus.get(), &rawCall, kDestination, kPath, kInterface,
                         "GetCapabilities") < 0) {
    return NotificationAuthorization::Denied;
  }
  SdBusMessage call(rawCall);
  api->setAutoStart(call.get(), 0);  // never start a server on our account
  SdBusError error;
  sd_bus_message* rawReply = nullptr;
  if (api->call(connection->bus.get(), call.get(), kCallTimeoutMicroseconds, error.get(),
                &rawReply) < 0) {
    return NotificationAuthorization::Denied;
  }
  SdBusMessage reply(rawReply);
  if (api->enterContainer(reply.get(), 'a', "s") >= 0) {
    const char* capability = nullptr;
    while (api->read(reply.get(), "s", &capability) > 0) {
      if (std::strcmp(capability, "body-markup") == 0) bodyMarkup_ = true;
    }
    api->exitContainer(reply.get());
  }
  connection_ = std::move(*connection);
  return NotificationAuthorization::Authorized;
}

Status NotificationCenter::add(const std::string& identifier, const NotificationContent& content) {
  if (!connection_) return Error{"not authorised"};
  const SdBusApi* api = connection_->api;
  std::string body = bodyMarkup_ ? escapeMarkup(content.body) : content.body;
  if (content.subtitle) {
    body = (bodyMarkup_ ? escapeMarkup(*content.subtitle) : *content.subtitle) + "\n" + body;
  }
  sd_bus_message* rawCall = nullptr;
  if (api->newMethodCall(connection_->bus.get(), &rawCall, kDestination, kPath, kInterface,
                         "Notify") < 0) {
    return Error{"cannot build the notification"};
  }
  SdBusMessage call(rawCall);
  api->setAutoStart(call.get(), 0);
  int rc = api->append(call.get(), "susssas", kApplicationName, 0u, "", content.title.c_str(),
                       body.c_str(), 0);
  if (rc >= 0) rc = api->openContainer(call.get(), 'a', "{sv}");
  std::string image;
  if (rc >= 0 && !content.attachments.empty()) {
    image = fileURL(content.attachments.front().file);
    rc = api->append(call.get(), "{sv}", "image-path", "s", image.c_str());
  }
  if (rc >= 0) rc = api->append(call.get(), "{sv}", "x-shelvo-identifier", "s", identifier.c_str());
  if (rc >= 0) rc = api->closeContainer(call.get());
  if (rc >= 0) rc = api->append(call.get(), "i", -1);
  if (rc < 0) return Error{"cannot build the notification"};
  SdBusError error;
  sd_bus_message* rawReply = nullptr;
  if (api->call(connection_->bus.get(), call.get(), kCallTimeoutMicroseconds, error.get(),
                &rawReply) < 0) {
    return Error{error.message() != nullptr ? error.message()
                                            : "the notification server did not answer"};
  }
  SdBusMessage reply(rawReply);
  return success();
}

}  // namespace shelvo::platform
