#include "platform/system/process_identity.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <charconv>
#include <string>

#include "platform/env/files.h"

namespace shelvo::platform {

BootTicks ticksSinceBoot() {
  timespec now{};
  ::clock_gettime(CLOCK_BOOTTIME, &now);
  auto ticks = static_cast<BootTicks>(::sysconf(_SC_CLK_TCK));
  return static_cast<BootTicks>(now.tv_sec) * ticks +
         static_cast<BootTicks>(now.tv_nsec) * ticks / 1'000'000'000ULL;
}

std::optional<BootTicks> processStartTicks(pid_t pid) {
  auto stat = readFile("/proc/" + std::to_string(pid) + "/stat", 4096);
  if (!stat) return std::nullopt;
  // The command name may hold spaces and parentheses; the fields after its last ')' do not.
  auto close = stat->rfind(')');
  if (close == std::string::npos) return std::nullopt;
  const char* at = stat->data() + close + 1;
  const char* end = stat->data() + stat->size();
  // Field 22 is the start time; the first after the name is field 3.
  for (int field = 3; field < 22; ++field) {
    while (at < end && *at == ' ') ++at;
    while (at < end && *at != ' ') ++at;
  }
  while (at < end && *at == ' ') ++at;
  BootTicks started = 0;
  if (std::from_chars(at, end, started).ec != std::errc()) return std::nullopt;
  return started;
}

UniqueFd openProcess(pid_t pid) {
  return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

bool processAlive(int pidfd) {
  return signalProcess(pidfd, 0);
}

bool signalProcess(int pidfd, int signal) {
  return pidfd >= 0 && ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
}

}  // namespace shelvo::platform
