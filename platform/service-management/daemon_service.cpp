#include "platform/service-management/daemon_service.h"

#include <unistd.h>

#include <cstdint>
#include <string_view>

#include "platform/dbus/bus_connection.h"

namespace shelvo::platform {
namespace {

constexpr std::uint64_t kCallTimeoutMicroseconds = 25'000'000;
constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";

Result<BusConnection> connectToSystemd(const RootPrefix& root) {
  std::string privateSocket = root.resolve("/run/systemd/private").string();
  if (::access(privateSocket.c_str(), F_OK) == 0) {
    auto direct = openPeerBus("unix:path=" + privateSocket);
    if (direct) return direct;
  }
  return openSystemBus();
}

ServiceError failure(std::string_view name, std::string_view message) {
  return ServiceError{std::string(message), std::string(name) + ": " + std::string(message)};
}

// Calls one manager method; arguments adds the arguments.
std::optional<ServiceError> callManager(const BusConnection& connection, const char* member,
                                        const BusConnection::Arguments& arguments,
                                        SdBusMessage* replyOut = nullptr) {
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
  return std::nullopt;
}

int appendUnitList(const SdBusApi* api, sd_bus_message* call, const std::string& unit) {
  int rc = api->openContainer(call, 'a', "s");
  if (rc >= 0) rc = api->append(call, "s", unit.c_str());
  if (rc >= 0) rc = api->closeContainer(call);
  return rc;
}

}  // namespace

DaemonService::DaemonService(const std::string& plistName, RootPrefix root)
    : root_(std::move(root)) {
  std::string_view base(plistName);
  if (base.ends_with(".plist")) base.remove_suffix(6);
  unitName_ = std::string(base) + ".timer";
}

ServiceStatus DaemonService::status() const {
  auto connection = connectToSystemd(root_);
  if (!connection) return ServiceStatus::Unknown;
  const SdBusApi* api = connection->api;
  SdBusMessage reply;
  auto error = callManager(
      *connection, "GetUnitFileState",
      [&](const SdBusApi* a, sd_bus_message* call) {
        return a->append(call, "s", unitName_.c_str());
      },
      &reply);
  if (error) {
    return error->fullDescription.starts_with("org.freedesktop.DBus.Error.FileNotFound")
               ? ServiceStatus::NotFound
               : ServiceStatus::Unknown;
  }
  const char* state = nullptr;
  if (api->read(reply.get(), "s", &state) < 0 || state == nullptr) return ServiceStatus::Unknown;
  std::string_view text(state);
  if (text == "enabled" || text == "enabled-runtime") return ServiceStatus::Enabled;
  if (text == "disabled") return ServiceStatus::NotRegistered;
  if (text == "masked" || text == "masked-runtime") return ServiceStatus::RequiresApproval;
  return ServiceStatus::Unknown;
}

std::optional<ServiceError> DaemonService::registerService() const {
  auto connection = connectToSystemd(root_);
  if (!connection)
    return failure("org.freedesktop.DBus.Error.NoServer", connection.error().message);
  if (auto error = callManager(*connection, "EnableUnitFiles",
                               [&](const SdBusApi* api, sd_bus_message* call) {
                                 int rc = appendUnitList(api, call, unitName_);
                                 return rc < 0 ? rc : api->append(call, "bb", 0, 0);
                               })) {
    return error;
  }
  if (auto error = callManager(*connection, "Reload", nullptr)) return error;
  return callManager(*connection, "StartUnit", [&](const SdBusApi* api, sd_bus_message* call) {
    return api->append(call, "ss", unitName_.c_str(), "replace");
  });
}

std::optional<ServiceError> DaemonService::unregisterService() const {
  auto connection = connectToSystemd(root_);
  if (!connection)
    return failure("org.freedesktop.DBus.Error.NoServer", connection.error().message);
  if (auto error = callManager(*connection, "DisableUnitFiles",
                               [&](const SdBusApi* api, sd_bus_message* call) {
                                 int rc = appendUnitList(api, call, unitName_);
                                 return rc < 0 ? rc : api->append(call, "b", 0);
                               })) {
    return error;
  }
  if (auto error =
          callManager(*connection, "StopUnit", [&](const SdBusApi* api, sd_bus_message* call) {
            return api->append(call, "ss", unitName_.c_str(), "replace");
          })) {
    return error;
  }
  return callManager(*connection, "Reload", nullptr);
}

}  // namespace shelvo::platform
