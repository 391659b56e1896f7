#include "tests/support/https_server.h"

#include <chrono>
#include <fstream>

namespace shelvo::test {

HttpsServer::HttpsServer(const std::string& caFile) : identity_(demo::TlsIdentity::generate()) {
  std::ofstream(caFile) << identity_.authorityPem();
  server_ = std::make_unique<httplib::SSLServer>(identity_.certificate.get(), identity_.key.get());
}

void HttpsServer::start() {
  port_ = server_->bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

HttpsServer::~HttpsServer() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

}  // namespace shelvo::test
