#pragma once

#include <httplib.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "tools/demo-service/tls_identity.h"

namespace shelvo::demo {

struct AppServiceOptions {
  std::filesystem::path scriptsFolder;              // <bundle id>.zsh, and update.zsh for updates
  std::optional<std::filesystem::path> appList;     // the JSON served at /apps
  std::string credential;                           // expected after "Basic "
  std::string sealingKey;                           // 32 bytes
  std::optional<std::filesystem::path> requestLog;  // one JSON line per request
};

// A small app service over HTTPS: install and update scripts sealed on the fly, and a public
// app list.
class AppService {
 public:
  AppService(const TlsIdentity& identity, AppServiceOptions options);

  // Binds 127.0.0.1 (port 0: any free port) and returns the port, or -1.
  int bindLoopback(int port);
  // Serves until stop() is called.
  void serve();
  void stop();

  httplib::SSLServer& server() { return server_; }

 private:
  void logRequest(const httplib::Request& request);
  bool authorized(const httplib::Request& request, httplib::Response& response) const;
  void sendScript(const std::filesystem::path& file, httplib::Response& response) const;

  httplib::SSLServer server_;
  AppServiceOptions options_;
  std::mutex logMutex_;
};

// A bundle identifier taken from a request path is safe as a file name.
bool isSafeScriptName(const std::string& name);

}  // namespace shelvo::demo
