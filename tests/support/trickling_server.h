#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/demo-service/tls_identity.h"

namespace shelvo::test {

// An HTTPS server on 127.0.0.1 that answers every request with 200 and a body sent in pieces,
// each after its pause: the slow and the silent servers an idle timeout is about. Plain OpenSSL
// on a socket, so every piece leaves at once (the HTTP library buffers its writes).
class TricklingHttpsServer {
 public:
  using Piece = std::pair<std::chrono::milliseconds, std::string>;  // pause, then bytes
  TricklingHttpsServer(const std::string& caFile, std::vector<Piece> pieces);
  ~TricklingHttpsServer();
  std::string url() const { return "https://127.0.0.1:" + std::to_string(port_); }

 private:
  void serve();

  demo::TlsIdentity identity_;
  std::vector<Piece> pieces_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace shelvo::test
