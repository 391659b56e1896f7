#include "platform/power/shutdown_inhibitor.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/dbus/bus_connection.h"

namespace shelvo::platform {
namespace {

// logind answers at once; a bus that does not is not worth holding a script back for long.
constexpr std::uint64_t kCallTimeoutMicroseconds = 5'000'000;

}  // namespace

LogindInhibitor::LogindInhibitor(std::string who)
    : LogindInhibitor(std::move(who), openSystemBus) {}

Result<InhibitorLock> LogindInhibitor::delayShutdown(const std::string& why) {
  auto connection = openBus_();
  if (!connection) return connection.error();
  SdBusError error;
  auto reply = connection->call(
      {"org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
       "Inhibit"},
      [&](const SdBusApi* api, sd_bus_message* call) {
        return api->append(call, "ssss", "shutdown:sleep", who_.c_str(), why.c_str(), "delay");
      },
      kCallTimeoutMicroseconds, error);
  if (!reply) return reply.error();
  int borrowed = -1;
  if (int rc = connection->api->read(reply->get(), "h", &borrowed); rc < 0) {
    return Error{std::string("logind's answer holds no lock: ") + std::strerror(-rc), -rc};
  }
  // The message owns the descriptor it carries; the lock lasts as long as our copy.
  UniqueFd fd(::fcntl(borrowed, F_DUPFD_CLOEXEC, 3));
  if (!fd) return Error{std::string("cannot keep the lock: ") + std::strerror(errno), errno};
  return InhibitorLock(std::move(fd));
}

}  // namespace shelvo::platform
