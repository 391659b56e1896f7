#include "platform/notifications/desktop_sessions.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/dbus/bus_connection.h"

namespace shelvo::platform {
namespace {

constexpr std::uint64_t kCallTimeoutMicroseconds = 2'000'000;
constexpr const char* kLogin = "org.freedesktop.login1";
constexpr const char* kSessionInterface = "org.freedesktop.login1.Session";

struct ListedSession {
  std::string id;
  unsigned uid = 0;
  std::string user;
  std::string path;
};

Result<std::vector<ListedSession>> listSessions(const BusConnection& bus) {
  SdBusError error;
  auto reply = bus.call(
      {kLogin, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "ListSessions"},
      nullptr, kCallTimeoutMicroseconds, error);
  if (!reply) return reply.error();
  const SdBusApi* api = bus.api;
  std::vector<ListedSession> sessions;
  if (api->enterContainer(reply->get(), 'a', "(susso)") < 0)
    return Error{"logind sent an unexpected session list"};
  const char* id = nullptr;
  std::uint32_t uid = 0;
  const char* user = nullptr;
  const char* seat = nullptr;
  const char* path = nullptr;
  while (api->read(reply->get(), "(susso)", &id, &uid, &user, &seat, &path) > 0)
    sessions.push_back({id, uid, user, path});
  api->exitContainer(reply->get());
  return sessions;
}

// One property of a session: 'b' as "true"/"false", 's' as the text.
Result<std::string> sessionProperty(const BusConnection& bus, const std::string& path,
                                    const char* name, char type) {
  SdBusError error;
  auto reply = bus.call(
      {kLogin, path.c_str(), "org.freedesktop.DBus.Properties", "Get"},
      [&](const SdBusApi* api, sd_bus_message* call) {
        return api->append(call, "ss", kSessionInterface, name);
      },
      kCallTimeoutMicroseconds, error);
  if (!reply) return reply.error();
  const SdBusApi* api = bus.api;
  const char contents[2] = {type, '\0'};
  if (api->enterContainer(reply->get(), 'v', contents) < 0)
    return Error{std::string("logind sent an unexpected ") + name};
  std::string value;
  if (type == 'b') {
    int flag = 0;
    if (api->read(reply->get(), "b", &flag) < 0) return Error{std::string("no ") + name};
    value = flag != 0 ? "true" : "false";
  } else {
    const char* text = nullptr;
    if (api->read(reply->get(), "s", &text) < 0) return Error{std::string("no ") + name};
    value = text;
  }
  api->exitContainer(reply->get());
  return value;
}

// Why the session is no desktop session to notify; empty when it is one.
std::string unsuitability(const BusConnection& bus, const ListedSession& session) {
  auto active = sessionProperty(bus, session.path, "Active", 'b');
  auto remote = sessionProperty(bus, session.path, "Remote", 'b');
  auto type = sessionProperty(bus, session.path, "Type", 's');
  auto kind = sessionProperty(bus, session.path, "Class", 's');
  if (!active || !remote || !type || !kind) return "its properties could not be read";
  if (*active != "true") return "it is not active";
  if (*remote != "false") return "it is remote";
  if (*type != "x11" && *type != "wayland") return "it is not graphical (type " + *type + ")";
  if (*kind != "user") return "it is of class " + *kind;
  return "";
}

}  // namespace

Result<DesktopSessionSurvey> findDesktopSessions(const RootPrefix& root) {
  auto bus = openSystemBus();
  if (!bus) return bus.error();
  auto listed = listSessions(*bus);
  if (!listed) return listed.error();
  DesktopSessionSurvey survey;
  for (const auto& session : *listed) {
    std::string why = unsuitability(*bus, session);
    std::filesystem::path socket =
        root.resolve("/run/user/" + std::to_string(session.uid) + "/bus");
    struct stat info {};
    if (why.empty() && (::stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)))
      why = "its user has no session bus at " + socket.string();
    bool seen = std::any_of(survey.sessions.begin(), survey.sessions.end(),
                            [&](const DesktopSession& kept) { return kept.uid == session.uid; });
    if (why.empty() && seen) why = "its user was already found in another session";
    if (!why.empty()) {
      survey.skipped.push_back("session " + session.id + ": " + why);
      continue;
    }
    survey.sessions.push_back({session.id, session.uid, session.user, socket});
  }
  return survey;
}

}  // namespace shelvo::platform
