// A systemd manager stand-in for tests, for what a real manager cannot be made to do: owns
// org.freedesktop.systemd1 on the bus in DBUS_SYSTEM_BUS_ADDRESS and keeps the state of one
// timer, changed by the calls the agent makes. Every call is appended to the calls file as
// "Method arg arg...".
//
//   fake-systemd READY CALLS FILE_STATE ACTIVE_STATE JOB_RESULT [FAIL_METHOD ERROR MESSAGE]
//
// FILE_STATE is the GetUnitFileState answer, or "notfound" for the FileNotFound error;
// ACTIVE_STATE the timer's ActiveState; JOB_RESULT the result StartUnit's job ends with. ERROR
// "slow" makes FAIL_METHOD answer after MESSAGE seconds instead of failing.
#include <systemd/sd-bus.h>

#include "tests/support/bus_service.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kUnitPath = "/org/freedesktop/systemd1/unit/timer";
constexpr const char* kJobPath = "/org/freedesktop/systemd1/job/7";

struct Manager {
  std::string callsFile;
  std::string fileState;
  std::string activeState;
  std::string jobResult;
  std::string failMethod;
  std::string failName;
  std::string failMessage;
};
void record(const Manager& manager, const std::string& line) {
  if (FILE* calls = std::fopen(manager.callsFile.c_str(), "a")) {
    std::fputs((line + "\n").c_str(), calls);
    std::fclose(calls);
  }
}

bool failing(const Manager& manager, const char* method, sd_bus_error* error) {
  if (manager.failMethod != method) return false;
  if (manager.failName == "slow") {
    std::this_thread::sleep_for(std::chrono::seconds(std::stoi(manager.failMessage)));
    return false;
  }
  sd_bus_error_set(error, manager.failName.c_str(), manager.failMessage.c_str());
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

int getUnitFileState(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  Manager& manager = *static_cast<Manager*>(userdata);
  const char* unit = nullptr;
  sd_bus_message_read(message, "s", &unit);
  record(manager, std::string("GetUnitFileState ") + unit);
  if (failing(manager, "GetUnitFileState", error)) return -EIO;
  if (manager.fileState == "notfound") {
    sd_bus_error_set(error, "org.freedesktop.DBus.Error.FileNotFound", "No such file or directory");
    return -ENOENT;
  }
  return sd_bus_reply_method_return(message, "s", manager.fileState.c_str());
}

int getUnit(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  Manager& manager = *static_cast<Manager*>(userdata);
  const char* unit = nullptr;
  sd_bus_message_read(message, "s", &unit);
  record(manager, std::string("GetUnit ") + unit);
  if (failing(manager, "GetUnit", error)) return -EIO;
  return sd_bus_reply_method_return(message, "o", kUnitPath);
}

int enableUnitFiles(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  Manager& manager = *static_cast<Manager*>(userdata);
  auto units = readStrings(message);
  int runtime = 0;
  int force = 0;
  sd_bus_message_read(message, "bb", &runtime, &force);
  record(manager, "EnableUnitFiles " + (units.empty() ? std::string() : units[0]) + " " +
                      std::to_string(runtime) + " " + std::to_string(force));
  if (failing(manager, "EnableUnitFiles", error)) return -EIO;
  manager.fileState = runtime != 0 ? "enabled-runtime" : "enabled";
  return sd_bus_reply_method_return(message, "ba(sss)", 1, 0);
}

int disableUnitFiles(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  Manager& manager = *static_cast<Manager*>(userdata);
  auto units = readStrings(message);
  int runtime = 0;
  sd_bus_message_read(message, "b", &runtime);
  record(manager, "DisableUnitFiles " + (units.empty() ? std::string() : units[0]) + " " +
                      std::to_string(runtime));
  if (failing(manager, "DisableUnitFiles", error)) return -EIO;
  if (manager.fileState == (runtime != 0 ? "enabled-runtime" : "enabled"))
    manager.fileState = "disabled";
  return sd_bus_reply_method_return(message, "a(sss)", 0);
}

int reload(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  Manager& manager = *static_cast<Manager*>(userdata);
  record(manager, "Reload");
  if (failing(manager, "Reload", error)) return -EIO;
  return sd_bus_reply_method_return(message, "");
}

// Answers with the job, then ends it with result, as the manager does.
int unitJob(const Manager& manager, sd_bus_message* message, const char* method,
            const std::string& result, sd_bus_error* error) {
  const char* unit = nullptr;
  const char* mode = nullptr;
  sd_bus_message_read(message, "ss", &unit, &mode);
  record(manager, std::string(method) + " " + unit + " " + mode);
  if (failing(manager, method, error)) return -EIO;
  int rc = sd_bus_reply_method_return(message, "o", kJobPath);
  if (rc < 0) return rc;
  sd_bus* bus = sd_bus_message_get_bus(message);
  // Another job's end first: the agent must wait for its own.
  sd_bus_emit_signal(bus, "/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager",
                     "JobRemoved", "uoss", 6u, "/org/freedesktop/systemd1/job/6", "other.service",
                     "failed");
  sd_bus_emit_signal(bus, "/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager",
                     "JobRemoved", "uoss", 7u, kJobPath, unit, result.c_str());
  return rc;
}

int startUnit(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  Manager& manager = *static_cast<Manager*>(userdata);
  int rc = unitJob(manager, message, "StartUnit", manager.jobResult, error);
  if (rc >= 0 && manager.jobResult == "done") manager.activeState = "active";
  return rc;
}
int stopUnit(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  Manager& manager = *static_cast<Manager*>(userdata);
  int rc = unitJob(manager, message, "StopUnit", "done", error);
  if (rc >= 0) manager.activeState = "inactive";
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
    SD_BUS_METHOD("DisableUnitFiles", "asb", "a(sss)", disableUnitFiles,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Reload", "", "", reload, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("StartUnit", "ss", "o", startUnit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("StopUnit", "ss", "o", stopUnit, SD_BUS_VTABLE_UNPRIVILEGED),
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
  if (argc != 6 && argc != 9) {
    std::fprintf(stderr,
                 "usage: fake-systemd READY CALLS FILE_STATE ACTIVE_STATE JOB_RESULT "
                 "[METHOD ERROR MESSAGE]\n");
    return 2;
  }
  Manager manager;
  manager.callsFile = argv[2];
  manager.fileState = argv[3];
  manager.activeState = argv[4];
  manager.jobResult = argv[5];
  if (argc == 9) {
    manager.failMethod = argv[6];
    manager.failName = argv[7];
    manager.failMessage = argv[8];
  }
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
