#include "platform/ipc/peer_socket.h"

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ipc/frame.h"

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77  // Linux 6.5; glibc 2.36 does not name it yet
#endif

namespace shelvo::platform {

PeerSocket::PeerSocket(UniqueFd socket, BootTicks acceptedAt)
    : socket_(std::move(socket)), acceptedAt_(acceptedAt) {
  int on = 1;
  ::setsockopt(socket_.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
}

Result<PeerCredentials> PeerSocket::credentials(PeerLookup lookup) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(socket_.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.pid <= 0) {
    return Error{"no peer credentials"};
  }
  bool byNumber = lookup == PeerLookup::pidNumber;
  if (!byNumber) {
    int pidfd = -1;
    socklen_t pidfdLength = sizeof pidfd;
    if (::getsockopt(socket_.get(), SOL_SOCKET, SO_PEERPIDFD, &pidfd, &pidfdLength) == 0) {
      pidfd_.reset(pidfd);
    } else if (errno == ENOPROTOOPT) {
      byNumber = true;  // a kernel before 6.5
    } else {
      return Error{"the process that connected is gone"};
    }
  }
  if (byNumber) {
    // The number may have passed to a newcomer since the connection was made. One that started
    // after the accept cannot be the peer; what remains is the time between connect and accept,
    // and the refusal of anything queued before admission covers what a newcomer could do there.
    pidfd_ = openProcess(peer.pid);
    auto started = processStartTicks(peer.pid);
    if (!pidfd_ || !started) return Error{"the process that connected is gone"};
    if (*started > acceptedAt_)
      return Error{"the process now holding the peer's pid started after the connection"};
  }
  if (!peerAlive()) return Error{"the process that connected is gone"};
  return PeerCredentials{peer.pid, peer.uid, peer.gid};
}

Result<std::size_t> PeerSocket::queuedBytes() const {
  int queued = 0;
  if (::ioctl(socket_.get(), FIONREAD, &queued) != 0 || queued < 0)
    return Error{std::string("cannot see what is queued: ") + std::strerror(errno), errno};
  return static_cast<std::size_t>(queued);
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
