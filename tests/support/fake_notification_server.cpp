// A notification server stand-in for tests: owns org.freedesktop.Notifications on the bus in
// DBUS_SESSION_BUS_ADDRESS and appends every Notify call to a file as one JSON line.
//
//   fake-notification-server READY_FILE RECORD_FILE [body-markup]
#include <systemd/sd-bus.h>

#include "tests/support/bus_service.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

std::string recordFile;
bool bodyMarkup = false;
unsigned nextId = 1;

std::string json(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out + "\"";
}

// What the descriptors of a process lead to, as JSON strings.
std::string descriptorTargets(pid_t pid) {
  std::string targets;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    auto target = std::filesystem::read_symlink(entry.path(), error);
    targets += (targets.empty() ? "" : ",") + json(error ? "?" : target.string());
  }
  return targets;
}

int getCapabilities(sd_bus_message* message, void*, sd_bus_error*) {
  if (bodyMarkup) return sd_bus_reply_method_return(message, "as", 2, "body", "body-markup");
  return sd_bus_reply_method_return(message, "as", 1, "body");
}

int notify(sd_bus_message* message, void*, sd_bus_error*) {
  const char* app = nullptr;
  unsigned replaces = 0;
  const char* icon = nullptr;
  const char* summary = nullptr;
  const char* body = nullptr;
  sd_bus_message_read(message, "susss", &app, &replaces, &icon, &summary, &body);
  sd_bus_message_skip(message, "as");
  std::string line = "{\"summary\":" + json(summary) + ",\"body\":" + json(body) + ",\"hints\":{";
  sd_bus_message_enter_container(message, 'a', "{sv}");
  bool first = true;
  while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
    const char* key = nullptr;
    sd_bus_message_read(message, "s", &key);
    const char* contents = nullptr;
    sd_bus_message_peek_type(message, nullptr, &contents);
    std::string value = "null";
    if (contents != nullptr && std::strcmp(contents, "s") == 0) {
      const char* text = nullptr;
      sd_bus_message_read(message, "v", "s", &text);
      value = json(text);
    } else {
      sd_bus_message_skip(message, "v");
    }
    line += first ? "" : ",";
    line += json(key);
    line += ":";
    line += value;
    first = false;
    sd_bus_message_exit_container(message);
  }
  sd_bus_message_exit_container(message);
  // Who sent it, as the bus vouches for it, with its groups and what its descriptors lead to.
  uid_t sender = static_cast<uid_t>(-1);
  std::string groups;
  std::string descriptors;
  sd_bus_creds* creds = nullptr;
  if (sd_bus_query_sender_creds(message,
                                SD_BUS_CREDS_EUID | SD_BUS_CREDS_PID |
                                    SD_BUS_CREDS_SUPPLEMENTARY_GIDS | SD_BUS_CREDS_AUGMENT,
                                &creds) >= 0) {
    sd_bus_creds_get_euid(creds, &sender);
    const gid_t* gids = nullptr;
    int count = sd_bus_creds_get_supplementary_gids(creds, &gids);
    for (int i = 0; i < count; ++i) groups += (i > 0 ? "," : "") + std::to_string(gids[i]);
    pid_t pid = 0;
    if (sd_bus_creds_get_pid(creds, &pid) >= 0) descriptors = descriptorTargets(pid);
    sd_bus_creds_unref(creds);
  }
  line += "},\"sender_uid\":" + std::to_string(static_cast<long>(sender)) + ",\"sender_groups\":[" +
          groups + "],\"sender_descriptors\":[" + descriptors + "]}\n";
  if (FILE* record = std::fopen(recordFile.c_str(), "a")) {
    std::fputs(line.c_str(), record);
    std::fclose(record);
  }
  return sd_bus_reply_method_return(message, "u", nextId++);
}

const sd_bus_vtable kNotifications[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetCapabilities", "", "as", getCapabilities, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", notify, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: fake-notification-server READY RECORD [body-markup]\n");
    return 2;
  }
  recordFile = argv[2];
  bodyMarkup = argc == 4 && std::strcmp(argv[3], "body-markup") == 0;
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return 1;
  if (sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/Notifications",
                               "org.freedesktop.Notifications", kNotifications, nullptr) < 0) {
    return 1;
  }
  return shelvo::test::serveOnBus(bus, "org.freedesktop.Notifications", argv[1]);
}
