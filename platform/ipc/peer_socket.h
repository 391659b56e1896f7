#pragma once

#include <sys/types.h>

#include <string>

#include "platform/result.h"
#include "platform/system/unique_fd.h"

namespace shelvo::platform {

// Who connected: frozen at connect time.
struct PeerCredentials {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
};

// The server side of one accepted connection. The kernel stamps every received message with
// its sender's credentials, so a message from any process but the admitted one is noticed.
class PeerSocket {
 public:
  explicit PeerSocket(UniqueFd socket);

  // Credentials and a pidfd of the process that connected.
  Result<PeerCredentials> credentials();
  int pidfd() const { return pidfd_.get(); }

  // The next frame's payload. Fails on end of file, a bad length, a read error, or a message
  // sent by a process other than expectedSender.
  Result<std::string> receiveFrame(pid_t expectedSender);
  // Never raises SIGPIPE: a client that went away is an error, not a signal.
  Status sendFrame(std::string_view payload);
  void close() { socket_.reset(); }

 private:
  Result<std::size_t> receiveSome(char* buffer, std::size_t length, pid_t expectedSender);

  UniqueFd socket_;
  UniqueFd pidfd_;
};

}  // namespace shelvo::platform
