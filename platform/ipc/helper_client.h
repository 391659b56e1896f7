#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/result.h"
#include "platform/system/unique_fd.h"

namespace shelvo::platform {

// The client side of the helper's connection, for the desktop app and for tests: connect, send
// scripts, get their exit statuses.
class HelperClient {
 public:
  static Result<HelperClient> connect(const std::filesystem::path& socket);
  // Takes over a connection made earlier, for example by this process before it executed.
  static HelperClient adopt(UniqueFd socket) { return HelperClient(std::move(socket)); }

  // Runs a script as root and waits for its exit status. Fails when the helper ends the
  // connection without replying (a syntax error, a script it could not start, a refusal).
  Result<std::int32_t> executeScript(const std::string& command);
  // Sends a request without waiting for its reply; returns its id.
  Result<std::int64_t> sendScript(const std::string& command);
  Result<std::int32_t> awaitReply(std::int64_t id);
  void close() { socket_.reset(); }
  // The connection, for a caller that needs to poll it or write to it itself.
  int fd() const { return socket_.get(); }

 private:
  explicit HelperClient(UniqueFd socket) : socket_(std::move(socket)) {}
  UniqueFd socket_;
  std::int64_t nextId_ = 1;
};

}  // namespace shelvo::platform
