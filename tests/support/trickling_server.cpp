#include "tests/support/trickling_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <memory>

namespace shelvo::test {

TricklingHttpsServer::TricklingHttpsServer(const std::string& caFile, std::vector<Piece> pieces)
    : identity_(demo::TlsIdentity::generate()), pieces_(std::move(pieces)) {
  // A client that gave up must not end the test process through a write.
  std::signal(SIGPIPE, SIG_IGN);
  std::ofstream(caFile) << identity_.authorityPem();
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listener_, 8);
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

TricklingHttpsServer::~TricklingHttpsServer() {
  stopping_ = true;
  ::shutdown(listener_, SHUT_RDWR);
  thread_.join();
  ::close(listener_);
}

void TricklingHttpsServer::serve() {
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_server_method()),
                                                            SSL_CTX_free);
  SSL_CTX_use_certificate(context.get(), identity_.certificate.get());
  SSL_CTX_use_PrivateKey(context.get(), identity_.key.get());
  while (!stopping_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, 100) <= 0) continue;
    int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::unique_ptr<SSL, decltype(&SSL_free)> tls(SSL_new(context.get()), SSL_free);
    SSL_set_fd(tls.get(), client);
    if (SSL_accept(tls.get()) == 1) {
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        int n = SSL_read(tls.get(), buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
      }
      std::size_t total = 0;
      for (const auto& piece : pieces_) total += piece.second.size();
      std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                         std::to_string(total) + "\r\nConnection: close\r\n\r\n";
      SSL_write(tls.get(), head.data(), static_cast<int>(head.size()));
      for (const auto& [pause, bytes] : pieces_) {
        std::this_thread::sleep_for(pause);
        if (!bytes.empty() &&
            SSL_write(tls.get(), bytes.data(), static_cast<int>(bytes.size())) <= 0) {
          break;
        }
      }
      SSL_shutdown(tls.get());
    }
    ::close(client);
  }
}

}  // namespace shelvo::test
