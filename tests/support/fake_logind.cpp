// A logind stand-in for tests: owns org.freedesktop.login1 on the bus in
// DBUS_SYSTEM_BUS_ADDRESS, lists the sessions it is given and serves their properties. It hands
// out inhibitor locks (Inhibit) and lists those still held (ListInhibitors), as logind does:
// a lock lasts until every copy of its descriptor is closed.
//
//   fake-logind READY_FILE [ID:UID:USER:ACTIVE:REMOTE:TYPE:CLASS...]
#include <fcntl.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/bus_service.h"

namespace {

struct Session {
  std::string id;
  unsigned uid = 0;
  std::string user;
  bool active = false;
  bool remote = false;
  std::string type;
  std::string kind;
  std::string path;
};

std::vector<Session> sessions;

struct Inhibitor {
  std::string what, who, why, mode;
  int readEnd = -1;  // sees the pipe hang up once every holder has closed its end
};
std::vector<Inhibitor> inhibitors;

int inhibit(sd_bus_message* message, void*, sd_bus_error* error) {
  const char* what = nullptr;
  const char* who = nullptr;
  const char* why = nullptr;
  const char* mode = nullptr;
  int rc = sd_bus_message_read(message, "ssss", &what, &who, &why, &mode);
  if (rc < 0) return rc;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return sd_bus_error_set_errno(error, errno);
  inhibitors.push_back({what, who, why, mode, ends[0]});
  rc = sd_bus_reply_method_return(message, "h", ends[1]);  // the reply carries a copy
  ::close(ends[1]);
  return rc;
}

bool held(const Inhibitor& inhibitor) {
  pollfd end{inhibitor.readEnd, POLLIN, 0};
  return ::poll(&end, 1, 0) == 0;
}

int listInhibitors(sd_bus_message* message, void*, sd_bus_error*) {
  std::erase_if(inhibitors, [](const Inhibitor& inhibitor) {
    if (held(inhibitor)) return false;
    ::close(inhibitor.readEnd);
    return true;
  });
  sd_bus_message* reply = nullptr;
  sd_bus_message_new_method_return(message, &reply);
  sd_bus_message_open_container(reply, 'a', "(ssssuu)");
  for (const auto& inhibitor : inhibitors) {
    sd_bus_message_append(reply, "(ssssuu)", inhibitor.what.c_str(), inhibitor.who.c_str(),
                          inhibitor.why.c_str(), inhibitor.mode.c_str(), 0u, 0u);
  }
  sd_bus_message_close_container(reply);
  int rc = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return rc;
}

int listSessions(sd_bus_message* message, void*, sd_bus_error*) {
  sd_bus_message* reply = nullptr;
  sd_bus_message_new_method_return(message, &reply);
  sd_bus_message_open_container(reply, 'a', "(susso)");
  for (const auto& session : sessions) {
    sd_bus_message_append(reply, "(susso)", session.id.c_str(), session.uid, session.user.c_str(),
                          "seat0", session.path.c_str());
  }
  sd_bus_message_close_container(reply);
  int rc = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return rc;
}

int property(sd_bus*, const char*, const char*, const char* name, sd_bus_message* reply,
             void* userdata, sd_bus_error*) {
  const auto& session = *static_cast<const Session*>(userdata);
  if (std::strcmp(name, "Active") == 0) return sd_bus_message_append(reply, "b", session.active);
  if (std::strcmp(name, "Remote") == 0) return sd_bus_message_append(reply, "b", session.remote);
  if (std::strcmp(name, "Type") == 0)
    return sd_bus_message_append(reply, "s", session.type.c_str());
  return sd_bus_message_append(reply, "s", session.kind.c_str());
}

const sd_bus_vtable kManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("ListSessions", "", "a(susso)", listSessions, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Inhibit", "ssss", "h", inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ListInhibitors", "", "a(ssssuu)", listInhibitors, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable kSession[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Active", "b", property, 0, 0),
    SD_BUS_PROPERTY("Remote", "b", property, 0, 0),
    SD_BUS_PROPERTY("Type", "s", property, 0, 0),
    SD_BUS_PROPERTY("Class", "s", property, 0, 0),
    SD_BUS_VTABLE_END,
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fake-logind READY [ID:UID:USER:ACTIVE:REMOTE:TYPE:CLASS...]\n");
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    std::stringstream spec(argv[i]);
    std::vector<std::string> fields;
    for (std::string field; std::getline(spec, field, ':');) fields.push_back(field);
    if (fields.size() != 7) return 2;
    sessions.push_back({fields[0], static_cast<unsigned>(std::stoul(fields[1])), fields[2],
                        fields[3] == "yes", fields[4] == "yes", fields[5], fields[6],
                        "/org/freedesktop/login1/session/_" + fields[0]});
  }
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return 1;
  if (sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", kManager, nullptr) < 0) {
    return 1;
  }
  for (auto& session : sessions) {
    if (sd_bus_add_object_vtable(bus, nullptr, session.path.c_str(),
                                 "org.freedesktop.login1.Session", kSession, &session) < 0) {
      return 1;
    }
  }
  return shelvo::test::serveOnBus(bus, "org.freedesktop.login1", argv[1]);
}
