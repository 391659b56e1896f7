// Preloaded into a client by the tests, as an attacker would: its constructor connects to the
// helper ($INJECT_SOCKET), sends the frame in $INJECT_FRAME and waits for the helper to answer
// or close. Plain libc, so it loads into any program.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

__attribute__((constructor)) void inject() {
  const char* socketPath = std::getenv("INJECT_SOCKET");
  const char* framePath = std::getenv("INJECT_FRAME");
  if (socketPath == nullptr || framePath == nullptr) return;
  char frame[65536];
  int file = ::open(framePath, O_RDONLY | O_CLOEXEC);
  if (file < 0) return;
  ssize_t length = ::read(file, frame, sizeof frame);
  ::close(file);
  if (length <= 0) return;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath, sizeof address.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, frame, static_cast<std::size_t>(length), MSG_NOSIGNAL) == length) {
    char reply[256];
    while (::read(fd, reply, sizeof reply) > 0) {
    }
  }
  ::close(fd);
}

}  // namespace
