// A systemd manager stand-in for tests: owns org.freedesktop.systemd1 on the bus in
// DBUS_SYSTEM_BUS_ADDRESS and answers the unit-file calls the agent makes, as told by its
// arguments. Every call is appended to the calls file as "Method arg arg...".
//
//   fake-systemd READY_FILE CALLS_FILE STATE [FAIL_METHOD ERROR_NAME ERROR_MESSAGE]
//
// STATE is the GetUnitFileState answer, or "notfound" for the FileNotFound error.
#include <systemd/sd-bus.h>

#include "tests/support/bus_service.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string callsFile;
std::string state;
std::string failMethod;
std::string failName;
std::string failMessage;

void record(const std::string& line) {
  if (FILE* calls = std::fopen(callsFile.c_str(), "a")) {
    std::fputs((line + "\n").c_str(), calls);
    std::fclose(calls);
  }
}

bool failing(const char* method, sd_bus_error* error) {
  if (failMethod != method) return false;
  sd_bus_error_set(error, failName.c_str(), failMessage.c_str());
  return true;
}

std::vector<std::string> readStrings(sd_bus_message* message) {
  std::vector<std::string> strings;
  if (sd_bus_message_enter_container(message, 'a', "s") < 0) return strings;
  const char* text = nullptr;
  while (sd_bus_message_read(message, "s", &text) > 0) strings.emplace_back(text);
  sd_bus_message_exit_container(message);
  return strings;
}

int getUnitFileState(sd_bus_message* message, void*, sd_bus_error* error) {
  const char* unit = nullptr;
  sd_bus_message_read(message, "s", &unit);
  record(std::string("GetUnitFileState ") + unit);
  if (failing("GetUnitFileState", error)) return -EIO;
  if (state == "notfound") {
    sd_bus_error_set(error, "org.freedesktop.DBus.Error.FileNotFound", "No such file or directory");
    return -ENOENT;
  }
  return sd_bus_reply_method_return(message, "s", state.c_str());
}

int enableUnitFiles(sd_bus_message* message, void*, sd_bus_error* error) {
  auto units = readStrings(message);
  int runtime = 0;
  int force = 0;
  sd_bus_message_read(message, "bb", &runtime, &force);
  record("EnableUnitFiles " + (units.empty() ? std::string() : units[0]) + " " +
         std::to_string(runtime) + " " + std::to_string(force));
  if (failing("EnableUnitFiles", error)) return -EIO;
  return sd_bus_reply_method_return(message, "ba(sss)", 1, 0);
}

int disableUnitFiles(sd_bus_message* message, void*, sd_bus_error* error) {
  auto units = readStrings(message);
  int runtime = 0;
  sd_bus_message_read(message, "b", &runtime);
  record("DisableUnitFiles " + (units.empty() ? std::string() : units[0]) + " " +
         std::to_string(runtime));
  if (failing("DisableUnitFiles", error)) return -EIO;
  return sd_bus_reply_method_return(message, "a(sss)", 0);
}

int reload(sd_bus_message* message, void*, sd_bus_error* error) {
  record("Reload");
  if (failing("Reload", error)) return -EIO;
  return sd_bus_reply_method_return(message, "");
}

int unitJob(sd_bus_message* message, const char* method, sd_bus_error* error) {
  const char* unit = nullptr;
  const char* mode = nullptr;
  sd_bus_message_read(message, "ss", &unit, &mode);
  record(std::string(method) + " " + unit + " " + mode);
  if (failing(method, error)) return -EIO;
  return sd_bus_reply_method_return(message, "o", "/org/freedesktop/systemd1/job/1");
}

int startUnit(sd_bus_message* message, void*, sd_bus_error* error) {
  return unitJob(message, "StartUnit", error);
}
int stopUnit(sd_bus_message* message, void*, sd_bus_error* error) {
  return unitJob(message, "StopUnit", error);
}

const sd_bus_vtable kManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetUnitFileState", "s", "s", getUnitFileState, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("EnableUnitFiles", "asbb", "ba(sss)", enableUnitFiles,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("DisableUnitFiles", "asb", "a(sss)", disableUnitFiles,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Reload", "", "", reload, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("StartUnit", "ss", "o", startUnit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("StopUnit", "ss", "o", stopUnit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 7) {
    std::fprintf(stderr, "usage: fake-systemd READY CALLS STATE [METHOD ERROR MESSAGE]\n");
    return 2;
  }
  callsFile = argv[2];
  state = argv[3];
  if (argc == 7) {
    failMethod = argv[4];
    failName = argv[5];
    failMessage = argv[6];
  }
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return 1;
  if (sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/systemd1",
                               "org.freedesktop.systemd1.Manager", kManager, nullptr) < 0) {
    return 1;
  }
  return shelvo::test::serveOnBus(bus, "org.freedesktop.systemd1", argv[1]);
}
