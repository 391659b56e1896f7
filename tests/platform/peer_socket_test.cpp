// Finding the process behind a connection, both ways: by the kernel's pidfd, and by pid number
// as on kernels before 6.5, where a process that started after the accept cannot be the peer.
#include "platform/ipc/peer_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/ipc/helper_client.h"
#include "platform/ipc/listener_socket.h"
#include "tests/support/temp_dir.h"

namespace shelvo::platform {
namespace {

// A child process connected to a listener of the test, which accepts the connection.
class ConnectedChild {
 public:
  explicit ConnectedChild(const test::TempDir& folder) {
    auto listener = ListenerSocket::bind(folder / "peer.sock");
    if (!listener) throw std::runtime_error(listener.error().message);
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) throw std::runtime_error("no pipe");
    UniqueFd readEnd(pipeEnds[0]);
    UniqueFd writeEnd(pipeEnds[1]);
    child_ = ::fork();
    if (child_ == 0) {
      // Connects, then lives until the test closes the pipe.
      auto connection = HelperClient::open(folder / "peer.sock");
      writeEnd.reset();
      char byte = 0;
      ::read(readEnd.get(), &byte, 1);
      ::_exit(connection ? 0 : 1);
    }
    readEnd.reset();
    release_ = std::move(writeEnd);
    while (!connection_) {
      auto accepted = listener->accept(30'000);
      if (!accepted) throw std::runtime_error(accepted.error().message);
      connection_ = std::move(*accepted);
    }
  }
  ~ConnectedChild() { end(); }

  pid_t pid() const { return child_; }
  UniqueFd takeConnection() { return std::move(connection_); }
  void end() {
    release_.reset();
    if (child_ > 0) ::waitpid(child_, nullptr, 0);
    child_ = -1;
  }

 private:
  pid_t child_ = -1;
  UniqueFd release_;
  UniqueFd connection_;
};

TEST(PeerSocket, FindsTheProcessThatConnectedEitherWayAndNotOnceItIsGone) {
  for (auto lookup : {PeerLookup::pidfd, PeerLookup::pidNumber}) {
    test::TempDir folder;
    ConnectedChild child(folder);
    PeerSocket socket(child.takeConnection(), ticksSinceBoot());
    auto peer = socket.credentials(lookup);
    ASSERT_TRUE(peer) << peer.error().message;
    EXPECT_EQ(peer->pid, child.pid());
    EXPECT_TRUE(socket.peerAlive());
    child.end();
    EXPECT_FALSE(socket.peerAlive()) << "the pidfd pins the process, not its number";
    EXPECT_FALSE(socket.credentials(lookup)) << "a peer that is gone is not found";
  }
}

TEST(PeerSocket, ByNumberAProcessThatStartedAfterTheAcceptIsNotThePeer) {
  test::TempDir folder;
  ConnectedChild child(folder);
  // As if the connection had been accepted before the process now holding the number started.
  PeerSocket socket(child.takeConnection(), 0);
  auto peer = socket.credentials(PeerLookup::pidNumber);
  ASSERT_FALSE(peer);
  EXPECT_EQ(peer.error().message,
            "the process now holding the peer's pid started after the connection");
}

}  // namespace
}  // namespace shelvo::platform
