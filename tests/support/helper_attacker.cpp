// What a local user tries against the helper's admission, for the whole-program tests. Each
// mode ends by executing the genuine client on its own pid, as an attacker would:
//   helper-attacker send-then-exec SOCKET SCRIPT PROGRAM ARG...
//       connects, queues a request to run SCRIPT, then executes PROGRAM fd:N ARG..., handing it
//       the connection
//   helper-attacker send-then-exit SOCKET SCRIPT
//       connects, queues a request and ends, leaving it to whoever takes its pid next
//   helper-attacker hold-then-exec SOCKET PROGRAM ARG...
//       connects, forks a child that keeps the connection (printing "holder PID FD" and waiting
//       to be killed), then executes PROGRAM fd:N ARG...
//   helper-attacker send-on HOLDER_PID FD SCRIPT PROGRAM ARG...
//       takes the holder's connection (pidfd_getfd), sends a request to run SCRIPT on it, then
//       executes PROGRAM ARG...
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "platform/ipc/frame.h"
#include "platform/ipc/helper_client.h"
#include "platform/ipc/helper_messages.h"

namespace {

int usage() {
  std::cerr << "usage: helper-attacker send-then-exec|send-then-exit|hold-then-exec|send-on ...\n";
  return 2;
}

// A connection that survives execve.
int connectInheritably(const std::string& socket) {
  auto connection = shelvo::platform::HelperClient::open(socket);
  if (!connection) {
    std::cerr << connection.error().message << "\n";
    std::exit(1);
  }
  int fd = connection->release();
  ::fcntl(fd, F_SETFD, 0);
  return fd;
}

void sendRequest(int fd, const std::string& script) {
  auto request = shelvo::platform::encodeRequest(
      {1, std::string(shelvo::platform::kExecuteScriptMethod), script});
  if (!shelvo::platform::sendAll(fd, shelvo::platform::encodeFrame(request))) std::exit(1);
  std::cout << "queued" << std::endl;
}

// Executes program with arguments, the first of them fd:N when fd is given.
int execute(char** program, int fd) {
  std::vector<char*> arguments{program[0]};
  std::string inherited = "fd:" + std::to_string(fd);
  if (fd >= 0) arguments.push_back(inherited.data());
  for (char** rest = program + 1; *rest != nullptr; ++rest) arguments.push_back(*rest);
  arguments.push_back(nullptr);
  std::cout.flush();
  ::execv(program[0], arguments.data());
  std::cerr << "cannot execute " << program[0] << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  std::string mode = argv[1];
  if (mode == "send-then-exec" && argc >= 5) {
    int fd = connectInheritably(argv[2]);
    sendRequest(fd, argv[3]);
    return execute(argv + 4, fd);
  }
  if (mode == "send-then-exit" && argc == 4) {
    sendRequest(connectInheritably(argv[2]), argv[3]);
    return 0;
  }
  if (mode == "hold-then-exec" && argc >= 4) {
    int fd = connectInheritably(argv[2]);
    std::cout.flush();
    if (::fork() == 0) {
      std::cout << "holder " << ::getpid() << " " << fd << std::endl;
      while (true) ::pause();
    }
    return execute(argv + 3, fd);
  }
  if (mode == "send-on" && argc >= 6) {
    int holder = static_cast<int>(::syscall(SYS_pidfd_open, std::stoi(argv[2]), 0));
    int fd = static_cast<int>(::syscall(SYS_pidfd_getfd, holder, std::stoi(argv[3]), 0));
    if (holder < 0 || fd < 0) {
      std::cerr << "cannot take the holder's connection\n";
      return 1;
    }
    sendRequest(fd, argv[4]);
    return execute(argv + 5, -1);
  }
  return usage();
}
