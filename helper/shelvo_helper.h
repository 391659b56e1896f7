#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "helper/client_validation.h"
#include "helper/connection_limits.h"
#include "platform/ipc/listener_socket.h"
#include "platform/ipc/peer_socket.h"
#include "platform/log/logger.h"
#include "platform/system/console.h"
#include "platform/system/root_prefix.h"
#include "shared/script-runner/script_runner.h"

namespace shelvo {

// What admission takes from outside. The defaults are the real ones; tests stall the check and
// move the clock that the admission bound is measured on.
struct AdmissionPolicy {
  platform::PeerLookup peerLookup = platform::PeerLookup::pidfd;
  using Check = std::function<std::optional<AdmittedClient>(const platform::PeerSocket&,
                                                            const platform::PeerCredentials&)>;
  // Empty: admitClient, with the trust anchors under the root prefix.
  Check check;
  using Outcome = std::future<std::optional<AdmittedClient>>;
  // Waits until outcome is ready or bound has passed; false when bound passed first.
  std::function<bool(Outcome& outcome, std::chrono::milliseconds bound)> awaitCheck =
      [](Outcome& outcome, std::chrono::milliseconds bound) {
        return outcome.wait_for(bound) == std::future_status::ready;
      };
};

// The privileged helper: admits the signed desktop app, runs the scripts it sends as root and
// ends when no admitted connection is left.
class ShelvoHelper {
 public:
  ShelvoHelper(platform::ListenerSocket listener, platform::Logger logger,
               platform::RootPrefix root, AdmissionPolicy policy = {});

  // Starts accepting connections on a thread of its own.
  void resume();
  // Blocks the caller in slices of shouldQuitCheckInterval until the helper is to end; returns
  // the status it ends with.
  int runUntilQuit();

  void executeScriptWithCommand(const std::string& command,
                                const std::function<void(std::int32_t)>& completion);

  const std::chrono::duration<double> shouldQuitCheckInterval{1.0};
  const std::string codeRequirement = kLongRequirement;

 private:
  struct Connection;

  void listen();
  // Admits or refuses a new connection on a thread of its own, within the admission bound.
  void shouldAcceptNewConnection(platform::UniqueFd socket, platform::BootTicks acceptedAt);
  void admitAndServe(const std::shared_ptr<Connection>& connection);
  std::optional<AdmittedClient> checkWithinBound(const std::shared_ptr<Connection>& connection);
  // Only bytes the admitted program sent count: the greeting goes out once nothing is queued.
  bool greet(const std::shared_ptr<Connection>& connection);
  // Whether a message just received came from the admitted process, still running its file.
  bool fromTheAdmittedProgram(const Connection& connection);
  void serve(const std::shared_ptr<Connection>& connection);
  void refused(const std::shared_ptr<Connection>& connection);
  void connectionInvalidated(const std::shared_ptr<Connection>& connection);
  void quitIfNobodyIsLeft();
  // Called with mutex_ held.
  void quit(int status = 0);

  platform::ListenerSocket listener_;
  platform::Logger logger_;
  platform::RootPrefix root_;
  AdmissionPolicy policy_;
  ScriptRunner runner_;
  ConnectionLimits limits_;

  std::mutex mutex_;
  std::condition_variable quitSignal_;
  std::vector<std::shared_ptr<Connection>> connections_;  // admitted
  std::size_t admissions_ = 0;                            // being checked
  std::atomic<bool> shouldQuit_{false};
  int exitStatus_ = 0;
};

}  // namespace shelvo
