// A systemd manager stand-in for tests, for what a real manager cannot be made to do: owns
// org.freedesktop.systemd1 on the bus in DBUS_SYSTEM_BUS_ADDRESS and keeps the state of one
// timer, changed by the calls that enable it.
//
//   fake-systemd READY FILE_STATE ACTIVE_STATE [FAIL_METHOD ERROR MESSAGE]
//
// FILE_STATE is the GetUnitFileState answer, ACTIVE_STATE the timer's ActiveState. ERROR "slow"
// makes FAIL_METHOD answer after MESSAGE seconds instead of failing.
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/support/bus_service.h"

namespace {

constexpr const char* kUnitPath = "/org/freedesktop/systemd1/unit/timer";
constexpr const char* kJobPath = "/org/freedesktop/systemd1/job/7";

struct Manager {
  std::string fileState;
  std::string activeState;
  std::string failMethod;
  std::string failName;
  std::string failMessage;
};

bool failing(const Manager& manager, const char* method, sd_bus_error* error) {
  if (manager.failMethod != method) return false;
  if (manager.failName == "slow") {
    std::this_thread::sleep_for(std::chrono::seconds(std::stoi(manager.failMessage)));
    return false;
  }
  sd_bus_error_set(error, manager.failName.c_str(), manager.failMessage.c_str());
  return true;
}

int getUnitFileState(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  Manager& manager = *static_cast<Manager*>(userdata);
  if (failing(manager, "GetUnitFileState", error)) return -EIO;
  return sd_bus_reply_method_return(message, "s", manager.fileState.c_str());
}

int getUnit(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  if (failing(*static_cast<Manager*>(userdata), "GetUnit", error)) return -EIO;
  return sd_bus_reply_method_return(message, "o", kUnitPath);
}

int enableUnitFiles(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  Manager& manager = *static_cast<Manager*>(userdata);
  if (failing(manager, "EnableUnitFiles", error)) return -EIO;
  manager.fileState = "enabled";
  return sd_bus_reply_method_return(message, "ba(sss)", 1, 0);
}

int reload(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  if (failing(*static_cast<Manager*>(userdata), "Reload", error)) return -EIO;
  return sd_bus_reply_method_return(message, "");
}

// Answers with the job, then ends it, as the manager does.
int startUnit(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  Manager& manager = *static_cast<Manager*>(userdata);
  const char* unit = nullptr;
  sd_bus_message_read(message, "s", &unit);
  if (failing(manager, "StartUnit", error)) return -EIO;
  int rc = sd_bus_reply_method_return(message, "o", kJobPath);
  if (rc < 0) return rc;
  manager.activeState = "active";
  sd_bus* bus = sd_bus_message_get_bus(message);
  // Another job's end first: the agent must wait for its own.
  sd_bus_emit_signal(bus, "/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager",
                     "JobRemoved", "uoss", 6u, "/org/freedesktop/systemd1/job/6", "other.service",
                     "failed");
  sd_bus_emit_signal(bus, "/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager",
                     "JobRemoved", "uoss", 7u, kJobPath, unit, "done");
  return rc;
}

int activeState(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                void* userdata, sd_bus_error*) {
  const Manager& manager = *static_cast<Manager*>(userdata);
  return sd_bus_message_append(reply, "s", manager.activeState.c_str());
}

const sd_bus_vtable kManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetUnitFileState", "s", "s", getUnitFileState, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetUnit", "s", "o", getUnit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("EnableUnitFiles", "asbb", "ba(sss)", enableUnitFiles,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Reload", "", "", reload, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("StartUnit", "ss", "o", startUnit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("JobRemoved", "uoss", 0),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable kUnit[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("ActiveState", "s", activeState, 0, 0),
    SD_BUS_VTABLE_END,
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 7) {
    std::fprintf(stderr, "usage: fake-systemd READY FILE_STATE ACTIVE_STATE [METHOD ERROR TEXT]\n");
    return 2;
  }
  Manager manager{argv[2], argv[3], argc == 7 ? argv[4] : "", argc == 7 ? argv[5] : "",
                  argc == 7 ? argv[6] : ""};
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return 1;
  if (sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/systemd1",
                               "org.freedesktop.systemd1.Manager", kManager, &manager) < 0 ||
      sd_bus_add_object_vtable(bus, nullptr, kUnitPath, "org.freedesktop.systemd1.Unit", kUnit,
                               &manager) < 0) {
    return 1;
  }
  return shelvo::test::serveOnBus(bus, "org.freedesktop.systemd1", argv[1]);
}
