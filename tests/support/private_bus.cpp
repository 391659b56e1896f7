#include "tests/support/private_bus.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <stdexcept>

namespace shelvo::test {
namespace {

bool socketAccepts(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof(address.sun_path) - 1);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

PrivateBus::PrivateBus() {
  start(folder_ / "bus");
}

PrivateBus::PrivateBus(const std::filesystem::path& socket) {
  start(socket);
}

void PrivateBus::start(const std::filesystem::path& socketPath) {
  std::string socket = socketPath.string();
  writeTextFile(folder_ / "bus.conf",
                R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>custom</type>
  <listen>unix:path=)" +
                    socket + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)");
  daemon_ = std::make_unique<BackgroundProcess>(
      std::vector<std::string>{"dbus-daemon", "--nofork", "--nopidfile",
                               "--config-file=" + (folder_ / "bus.conf").string()});
  if (!eventually([&] { return socketAccepts(socket); }))
    throw std::runtime_error("no dbus-daemon");
  address_ = "unix:path=" + socket;
}

}  // namespace shelvo::test
