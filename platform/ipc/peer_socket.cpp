#include "platform/ipc/peer_socket.h"

#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/ipc/frame.h"
#include "platform/system/files.h"

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77  // Linux 6.5; glibc 2.36 does not name it yet
#endif

namespace shelvo::platform {
namespace {

// The process's start time in clock ticks since boot (field 22 of /proc/<pid>/stat).
std::optional<unsigned long long> startTime(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  auto close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  for (int index = 3; index <= 22 && fields >> field; ++index) {
    if (index == 22) return std::stoull(field);
  }
  return std::nullopt;
}

unsigned long long ticksSinceBoot() {
  timespec now{};
  ::clock_gettime(CLOCK_BOOTTIME, &now);
  long ticks = ::sysconf(_SC_CLK_TCK);
  return static_cast<unsigned long long>(now.tv_sec) * static_cast<unsigned long long>(ticks) +
         static_cast<unsigned long long>(now.tv_nsec) * static_cast<unsigned long long>(ticks) /
             1'000'000'000ULL;
}

}  // namespace

PeerSocket::PeerSocket(UniqueFd socket) : socket_(std::move(socket)) {
  int on = 1;
  ::setsockopt(socket_.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
}

Result<PeerCredentials> PeerSocket::credentials() {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(socket_.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.pid <= 0) {
    return Error{"no peer credentials"};
  }
  int pidfd = -1;
  socklen_t pidfdLength = sizeof pidfd;
  if (::getsockopt(socket_.get(), SOL_SOCKET, SO_PEERPIDFD, &pidfd, &pidfdLength) == 0 &&
      pidfd >= 0) {
    pidfd_.reset(pidfd);
  } else {
    // Older kernels: open a pidfd by number, and make sure the process it names started before
    // this moment, so a newcomer that took the number over is not mistaken for the peer.
    unsigned long long now = ticksSinceBoot();
    pidfd_.reset(static_cast<int>(::syscall(SYS_pidfd_open, peer.pid, 0)));
    auto started = startTime(peer.pid);
    if (!pidfd_ || !started || *started > now) return Error{"the peer process is gone"};
  }
  return PeerCredentials{peer.pid, peer.uid, peer.gid};
}

Result<std::size_t> PeerSocket::receiveSome(char* buffer, std::size_t length,
                                            pid_t expectedSender) {
  while (true) {
    iovec part{buffer, length};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received = ::recvmsg(socket_.get(), &message, MSG_CMSG_CLOEXEC);
    if (received < 0 && errno == EINTR) continue;
    if (received < 0) return Error{std::string("read failed: ") + std::strerror(errno)};
    if (received == 0) return Error{"closed"};
    bool fromAdmittedSender = false;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_CREDENTIALS) {
        ucred sender{};
        std::memcpy(&sender, CMSG_DATA(header), sizeof sender);
        fromAdmittedSender = sender.pid == expectedSender;
      }
    }
    if (!fromAdmittedSender)
      return Error{"a message came from a process other than the admitted client"};
    return static_cast<std::size_t>(received);
  }
}

Result<std::string> PeerSocket::receiveFrame(pid_t expectedSender) {
  return readFrame([&](char* buffer, std::size_t length) {
    return receiveSome(buffer, length, expectedSender);
  });
}

Status PeerSocket::sendFrame(std::string_view payload) {
  return sendAll(socket_.get(), encodeFrame(payload));
}

}  // namespace shelvo::platform
