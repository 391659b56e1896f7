#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "base/result.h"
#include "platform/env/unique_fd.h"
#include "platform/ipc/helper_messages.h"

namespace shelvo::platform {

// The client side of the helper's connection, for the desktop app and for tests: connect, wait
// for the helper's greeting, send scripts, get their exit statuses.
class HelperClient {
 public:
  // Connects and waits up to greetingWait for the greeting; fails when the helper refused the
  // connection or did not greet in time. Nothing may be sent before the greeting.
  static Result<HelperClient> connect(const std::filesystem::path& socket,
                                      std::chrono::milliseconds greetingWait = kGreetingWait);
  // Only connects (close-on-exec), for a caller that waits for the greeting itself.
  static Result<UniqueFd> open(const std::filesystem::path& socket);
  // Takes over a connection made earlier, for example by this process before it executed.
  static HelperClient adopt(UniqueFd socket) { return HelperClient(std::move(socket)); }

  // Fails when the helper closed the connection first (it refused this client) or sent
  // something else, or when wait passed.
  Status awaitGreeting(std::chrono::milliseconds wait);
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
  // The next frame; without a deadline, however long it takes.
  Result<std::string> receiveFrame(std::optional<std::chrono::steady_clock::time_point> deadline);

  UniqueFd socket_;
  std::int64_t nextId_ = 1;
};

}  // namespace shelvo::platform
