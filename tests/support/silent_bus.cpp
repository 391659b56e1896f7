#include "tests/support/silent_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace shelvo::test {

SilentBus::SilentBus(const std::filesystem::path& socket, Mode mode) {
  std::filesystem::create_directories(socket.parent_path());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
  listener_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  int ends[2];
  if (!listener_ ||
      ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_.get(), 16) != 0 || ::pipe2(ends, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot listen on " + socket.string());
  }
  ::chmod(socket.c_str(), 0666);
  stopRead_.reset(ends[0]);
  stopWrite_.reset(ends[1]);
  thread_ = std::thread([this, mode] { serve(mode); });
}

SilentBus::~SilentBus() {
  stopWrite_.reset();  // ends the thread's poll
  thread_.join();
}

void SilentBus::serve(Mode mode) {
  struct Peer {
    platform::UniqueFd fd;
    std::string heard;
    bool answered = false;
  };
  std::vector<Peer> peers;
  while (true) {
    std::vector<pollfd> waiting{{stopRead_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
    for (const auto& peer : peers) waiting.push_back({peer.fd.get(), POLLIN, 0});
    if (::poll(waiting.data(), waiting.size(), -1) < 0) continue;
    if (waiting[0].revents != 0) return;
    if (waiting[1].revents & POLLIN)
      peers.push_back(
          {platform::UniqueFd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC)), "",
           false});
    for (std::size_t i = 2; i < waiting.size(); ++i) {
      if (waiting[i].revents == 0) continue;
      Peer& peer = peers[i - 2];
      char buffer[4096];
      ssize_t n = ::read(peer.fd.get(), buffer, sizeof buffer);
      if (n <= 0) {
        peer.fd.reset();
        continue;
      }
      peer.heard.append(buffer, static_cast<std::size_t>(n));
      // The client sends its whole authentication at once, ending with BEGIN.
      if (mode == Mode::silentAfterAuthentication && !peer.answered &&
          peer.heard.find("BEGIN\r\n") != std::string::npos) {
        std::string answer = "OK 0123456789abcdef0123456789abcdef\r\n";
        if (peer.heard.find("NEGOTIATE_UNIX_FD") != std::string::npos)
          answer += "AGREE_UNIX_FD\r\n";
        ::write(peer.fd.get(), answer.data(), answer.size());
        peer.answered = true;
      }
    }
    std::erase_if(peers, [](const Peer& peer) { return !peer.fd; });
  }
}

}  // namespace shelvo::test
