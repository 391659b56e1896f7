#include "platform/service-management/daemon_service.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string_view>

#include "platform/dbus/bus_connection.h"

namespace shelvo::platform {
namespace {

// Reload answers only when the reload is done, which takes long on a large system; a bound
// it fits, so that a change that took effect is not reported as failed.
constexpr std::chrono::seconds kCallTimeout{60};
constexpr std::uint64_t kCallTimeoutMicroseconds =
    std::chrono::duration_cast<std::chrono::microseconds>(kCallTimeout).count();
constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";

Result<BusConnection> connectToSystemd(const RootPrefix& root, const SystemBusOpener& systemBus) {
  std::string privateSocket = root.resolve("/run/systemd/private").string();
  if (::access(privateSocket.c_str(), F_OK) == 0) {
    auto direct = openPeerBus("unix:path=" + privateSocket);
    if (direct) return direct;
  }
  return systemBus();
}

Error failure(std::string_view name, std::string_view message) {
  return Error{std::string(message), 0, std::string(name)};
}

// Calls one manager method; arguments adds the arguments.
Status callManager(const BusConnection& connection, const char* member,
                   const BusConnection::Arguments& arguments, SdBusMessage* replyOut = nullptr) {
  SdBusError error;
  auto reply = connection.call({kDestination, kPath, kManager, member}, arguments,
                               kCallTimeoutMicroseconds, error);
  if (!reply) {
    if (error.name() != nullptr) {
      return failure(error.name(), error.message() != nullptr ? error.message() : "");
    }
    return failure("org.freedesktop.DBus.Error.Failed", reply.error().message);
  }
  if (replyOut != nullptr) *replyOut = std::move(*reply);
  return success();
}

// The timer's ActiveState; a unit that is not loaded is inactive.
Result<std::string> activeState(const BusConnection& connection, const std::string& unit) {
  SdBusMessage reply;
  auto called = callManager(
      connection, "GetUnit",
      [&](const SdBusApi* api, sd_bus_message* call) {
        return api->append(call, "s", unit.c_str());
      },
      &reply);
  if (!called) {
    if (called.error().name == "org.freedesktop.systemd1.NoSuchUnit")
      return std::string("inactive");
    return called.error();
  }
  const SdBusApi* api = connection.api;
  const char* path = nullptr;
  if (api->read(reply.get(), "o", &path) < 0 || path == nullptr) return Error{"bad GetUnit reply"};
  SdBusError busError;
  auto property = connection.call(
      {kDestination, path, "org.freedesktop.DBus.Properties", "Get"},
      [](const SdBusApi* a, sd_bus_message* call) {
        return a->append(call, "ss", "org.freedesktop.systemd1.Unit", "ActiveState");
      },
      kCallTimeoutMicroseconds, busError);
  if (!property) return property.error();
  const char* state = nullptr;
  if (api->enterContainer(property->get(), 'v', "s") < 0 ||
      api->read(property->get(), "s", &state) < 0 || state == nullptr) {
    return Error{"bad ActiveState reply"};
  }
  return std::string(state);
}

// Starts the unit and waits for its job to end: StartUnit only queues the job, and a timer
// whose job failed will never fire.
Status startAndAwait(const BusConnection& connection, const std::string& unit) {
  std::string job;
  std::optional<std::string> result;
  auto subscription = connection.subscribe(
      {kDestination, kPath, kManager, "JobRemoved"}, [&](sd_bus_message* signal) {
        std::uint32_t id = 0;
        const char* path = nullptr;
        const char* name = nullptr;
        const char* outcome = nullptr;
        if (connection.api->read(signal, "uoss", &id, &path, &name, &outcome) < 0) return;
        if (path != nullptr && outcome != nullptr && path == job) result = outcome;
      });
  if (!subscription) {
    return failure("org.freedesktop.DBus.Error.Failed", subscription.error().message);
  }
  SdBusMessage reply;
  if (auto called = callManager(
          connection, "StartUnit",
          [&](const SdBusApi* api, sd_bus_message* call) {
            return api->append(call, "ss", unit.c_str(), "replace");
          },
          &reply);
      !called) {
    return called;
  }
  const char* path = nullptr;
  if (connection.api->read(reply.get(), "o", &path) < 0 || path == nullptr) {
    return failure("org.freedesktop.DBus.Error.InvalidArgs", "bad StartUnit reply");
  }
  job = path;
  auto waited = connection.dispatchUntil([&] { return result.has_value(); },
                                         std::chrono::steady_clock::now() + kCallTimeout);
  if (!waited) {
    return failure("org.freedesktop.DBus.Error.Timeout",
                   "The start job of " + unit + " did not end: " + waited.error().message);
  }
  if (*result != "done") {
    return failure("org.freedesktop.systemd1.JobFailed",
                   "Job for " + unit + " failed with result '" + *result + "'.");
  }
  return success();
}

int appendUnitList(const SdBusApi* api, sd_bus_message* call, const std::string& unit) {
  int rc = api->openContainer(call, 'a', "s");
  if (rc >= 0) rc = api->append(call, "s", unit.c_str());
  if (rc >= 0) rc = api->closeContainer(call);
  return rc;
}

}  // namespace

DaemonService::DaemonService(const std::string& plistName, RootPrefix root,
                             SystemBusOpener systemBus)
    : root_(std::move(root)), systemBus_(std::move(systemBus)) {
  std::string_view base(plistName);
  if (base.ends_with(".plist")) base.remove_suffix(6);
  unitName_ = std::string(base) + ".timer";
}

ServiceStatus DaemonService::status() const {
  auto connection = connectToSystemd(root_, systemBus_);
  if (!connection) return ServiceStatus::Unknown;
  const SdBusApi* api = connection->api;
  SdBusMessage reply;
  auto called = callManager(
      *connection, "GetUnitFileState",
      [&](const SdBusApi* a, sd_bus_message* call) {
        return a->append(call, "s", unitName_.c_str());
      },
      &reply);
  if (!called) {
    return called.error().name == "org.freedesktop.DBus.Error.FileNotFound"
               ? ServiceStatus::NotFound
               : ServiceStatus::Unknown;
  }
  const char* state = nullptr;
  if (api->read(reply.get(), "s", &state) < 0 || state == nullptr) return ServiceStatus::Unknown;
  std::string_view text(state);
  if (text == "enabled" || text == "enabled-runtime") {
    // Enabled means the schedule will fire: a timer enabled but not running stays silent
    // until the next boot.
    auto active = activeState(*connection, unitName_);
    if (!active) return ServiceStatus::Unknown;
    return *active == "active" || *active == "activating" ? ServiceStatus::Enabled
                                                          : ServiceStatus::NotRegistered;
  }
  if (text == "disabled") return ServiceStatus::NotRegistered;
  if (text == "masked" || text == "masked-runtime") return ServiceStatus::RequiresApproval;
  return ServiceStatus::Unknown;
}

Status DaemonService::registerService() const {
  auto connection = connectToSystemd(root_, systemBus_);
  if (!connection)
    return failure("org.freedesktop.DBus.Error.NoServer", connection.error().message);
  if (auto called = callManager(*connection, "EnableUnitFiles",
                                [&](const SdBusApi* api, sd_bus_message* call) {
                                  int rc = appendUnitList(api, call, unitName_);
                                  return rc < 0 ? rc : api->append(call, "bb", 0, 0);
                                });
      !called) {
    return called;
  }
  if (auto called = callManager(*connection, "Reload", nullptr); !called) return called;
  return startAndAwait(*connection, unitName_);
}

Status DaemonService::unregisterService() const {
  auto connection = connectToSystemd(root_, systemBus_);
  if (!connection)
    return failure("org.freedesktop.DBus.Error.NoServer", connection.error().message);
  // An enablement made with --runtime lives beside the persistent one; both must go.
  for (int runtime : {0, 1}) {
    if (auto called = callManager(*connection, "DisableUnitFiles",
                                  [&](const SdBusApi* api, sd_bus_message* call) {
                                    int rc = appendUnitList(api, call, unitName_);
                                    return rc < 0 ? rc : api->append(call, "b", runtime);
                                  });
        !called) {
      return called;
    }
  }
  if (auto called = callManager(*connection, "StopUnit",
                                [&](const SdBusApi* api, sd_bus_message* call) {
                                  return api->append(call, "ss", unitName_.c_str(), "replace");
                                });
      !called) {
    return called;
  }
  return callManager(*connection, "Reload", nullptr);
}

}  // namespace shelvo::platform
