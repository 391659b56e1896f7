#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

#include "tools/demo-service/tls_identity.h"

namespace shelvo::test {

// An HTTPS server on 127.0.0.1 inside the test process, for answers the demo service never
// gives. Its authority's certificate is written to caFile for the agent to trust.
class HttpsServer {
 public:
  explicit HttpsServer(const std::string& caFile);
  ~HttpsServer();

  httplib::SSLServer& routes() { return *server_; }
  // Starts serving after the routes are set.
  void start();
  std::string url() const { return "https://127.0.0.1:" + std::to_string(port_); }

 private:
  demo::TlsIdentity identity_;
  std::unique_ptr<httplib::SSLServer> server_;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace shelvo::test
