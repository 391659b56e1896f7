#pragma once

#include <sys/types.h>

#include <string>

#include "base/result.h"
#include "platform/env/unique_fd.h"
#include "platform/system/process_identity.h"

namespace shelvo::platform {

// Who connected: frozen at connect time.
struct PeerCredentials {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
};

// How the process behind a connection is found: the kernel's pidfd of the process that
// connected (SO_PEERPIDFD, Linux 6.5 and later), or, where the kernel has none, its pid number
// (Debian 12's own 6.1). pidfd falls back to the number on a kernel without it.
enum class PeerLookup { pidfd, pidNumber };

// The server side of one accepted connection. The kernel stamps every received message with
// its sender's credentials, so a message from any process but the admitted one is noticed.
class PeerSocket {
 public:
  // acceptedAt is when the connection was accepted: by then the process that connected had
  // started, so one that started later cannot be it.
  PeerSocket(UniqueFd socket, BootTicks acceptedAt);

  // Credentials and a pidfd of the process that connected.
  Result<PeerCredentials> credentials(PeerLookup lookup);
  int pidfd() const { return pidfd_.get(); }
  // Whether the process that connected has not ended; while it has not, its pid names it alone.
  bool peerAlive() const { return processAlive(pidfd_.get()); }
  // How many bytes wait to be read.
  Result<std::size_t> queuedBytes() const;

  // The next frame's payload. Fails on end of file, a bad length, a read error, or a message
  // sent by a process other than expectedSender.
  Result<std::string> receiveFrame(pid_t expectedSender);
  // Never raises SIGPIPE: a client that went away is an error, not a signal.
  Status sendFrame(std::string_view payload);
  void close() { socket_.reset(); }

 private:
  Result<std::size_t> receiveSome(char* buffer, std::size_t length, pid_t expectedSender);

  UniqueFd socket_;
  BootTicks acceptedAt_;
  UniqueFd pidfd_;
};

}  // namespace shelvo::platform
