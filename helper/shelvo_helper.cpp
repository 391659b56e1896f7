#include "helper/shelvo_helper.h"

#include <algorithm>
#include <thread>

#include "platform/ipc/helper_messages.h"

namespace shelvo {
namespace {

constexpr int kAcceptSliceMilliseconds = 1000;
constexpr const char* kRefusal = "NSXPC client does not meet the requirements. %{public}s";

}  // namespace

struct ShelvoHelper::Connection {
  Connection(platform::UniqueFd fd, platform::BootTicks acceptedAt)
      : socket(std::move(fd), acceptedAt) {}
  platform::PeerSocket socket;
  platform::PeerCredentials peer;
  std::optional<platform::ExecutableIdentity> executable;
  std::shared_ptr<ConnectionLimits::Slot> slot;
};

ShelvoHelper::ShelvoHelper(platform::ListenerSocket listener, platform::Logger logger,
                           platform::RootPrefix root, AdmissionPolicy policy)
    : listener_(std::move(listener)),
      logger_(logger),
      root_(std::move(root)),
      policy_(std::move(policy)),
      runner_(logger, std::make_shared<platform::StandardOutput>(), "/bin/zsh",
              {std::make_shared<platform::LogindInhibitor>("ShelvoHelper")}) {
  if (!policy_.check) {
    policy_.check = [this](const platform::PeerSocket& socket,
                           const platform::PeerCredentials& peer) {
      auto anchors = platform::TrustAnchors::load(platform::TrustAnchors::folder(root_));
      return admitClient(socket, peer, anchors, logger_);
    };
  }
}

void ShelvoHelper::resume() {
  std::thread([this] { listen(); }).detach();
}

int ShelvoHelper::runUntilQuit() {
  auto slice = std::chrono::duration_cast<std::chrono::milliseconds>(shouldQuitCheckInterval);
  std::unique_lock lock(mutex_);
  while (!shouldQuit_) quitSignal_.wait_for(lock, slice);
  return exitStatus_;
}

void ShelvoHelper::quit(int status) {
  if (!shouldQuit_) exitStatus_ = status;
  shouldQuit_ = true;
  quitSignal_.notify_all();
}

void ShelvoHelper::quitIfNobodyIsLeft() {
  std::lock_guard lock(mutex_);
  if (connections_.empty() && admissions_ == 0) quit();
}

void ShelvoHelper::listen() {
  while (!shouldQuit_) {
    auto client = listener_.accept(kAcceptSliceMilliseconds);
    // The connection existed by now, so whoever made it had started.
    platform::BootTicks acceptedAt = platform::ticksSinceBoot();
    if (!client) {
      logger_.error("%{public}s", {client.error().message});
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    if (*client) shouldAcceptNewConnection(std::move(*client), acceptedAt);
  }
}

void ShelvoHelper::shouldAcceptNewConnection(platform::UniqueFd socket,
                                             platform::BootTicks acceptedAt) {
  auto connection = std::make_shared<Connection>(std::move(socket), acceptedAt);
  auto credentials = connection->socket.credentials(policy_.peerLookup);
  if (!credentials) {
    logger_.error("Unable to get the property 'auditToken' from the connection");
    logger_.debug("%{public}s", {credentials.error().message});
    connection->socket.close();
    quitIfNobodyIsLeft();
    return;
  }
  connection->peer = *credentials;
  auto reservation = limits_.reserve(connection->peer.uid);
  if (!reservation.slot) {
    logger_.error("%{public}s",
                  {ConnectionLimits::refusal(reservation.refusedBy, connection->peer.uid)});
    connection->socket.close();
    return;
  }
  connection->slot = std::move(reservation.slot);
  {
    std::lock_guard lock(mutex_);
    ++admissions_;
  }
  try {
    std::thread([this, connection] { admitAndServe(connection); }).detach();
  } catch (const std::system_error& error) {
    logger_.error("Cannot admit a client: %{public}s", {error.what()});
    refused(connection);
  }
}

void ShelvoHelper::admitAndServe(const std::shared_ptr<Connection>& connection) {
  auto admitted = checkWithinBound(connection);
  if (!admitted || !greet(connection)) {
    // Only this client is turned away; the helper ends if nobody else is connected.
    refused(connection);
    return;
  }
  connection->executable = admitted->executable;
  {
    std::lock_guard lock(mutex_);
    --admissions_;
    connections_.push_back(connection);
  }
  serve(connection);
}

std::optional<AdmittedClient> ShelvoHelper::checkWithinBound(
    const std::shared_ptr<Connection>& connection) {
  try {
    // The check runs on a thread of its own, so a check that hangs holds only this peer's slot.
    auto outcome = std::make_shared<std::promise<std::optional<AdmittedClient>>>();
    auto result = outcome->get_future();
    std::thread([this, connection, outcome] {
      try {
        outcome->set_value(policy_.check(connection->socket, connection->peer));
      } catch (const std::exception& error) {
        logger_.error("Cannot check a client: %{public}s", {error.what()});
        outcome->set_value(std::nullopt);
      }
    }).detach();
    if (policy_.awaitCheck(result, platform::kAdmissionBound)) return result.get();
    logger_.error(kRefusal, {"its check did not finish within " +
                             std::to_string(platform::kAdmissionBound.count()) + " seconds"});
  } catch (const std::exception& error) {
    logger_.error("Cannot check a client: %{public}s", {error.what()});
  }
  return std::nullopt;
}

bool ShelvoHelper::greet(const std::shared_ptr<Connection>& connection) {
  // The peer's pid ran the admitted file when it was checked, but bytes queued before that may
  // come from another program that ran under the same pid and then executed the client.
  auto queued = connection->socket.queuedBytes();
  if (!queued) {
    logger_.error("Cannot admit a client: %{public}s", {queued.error().message});
    return false;
  }
  if (*queued > 0) {
    logger_.error(kRefusal, {"sent before it was admitted"});
    return false;
  }
  return connection->socket.sendFrame(platform::encodeGreeting()).ok();
}

void ShelvoHelper::refused(const std::shared_ptr<Connection>& connection) {
  connection->socket.close();
  {
    std::lock_guard lock(mutex_);
    --admissions_;
  }
  quitIfNobodyIsLeft();
}

bool ShelvoHelper::fromTheAdmittedProgram(const Connection& connection) {
  auto running = platform::executableIdentity(connection.peer.pid);
  // Alive after the look at /proc: then the pid named the admitted process all along, and so did
  // the sender's pid the kernel stamped on the message.
  if (!connection.socket.peerAlive()) {
    logger_.error("The admitted client has ended; refusing a message sent under its pid");
    return false;
  }
  if (running != connection.executable) {
    logger_.error("The client started another program; closing its connection");
    return false;
  }
  return true;
}

void ShelvoHelper::serve(const std::shared_ptr<Connection>& connection) {
  try {
    // Requests on one connection are served in order, each to its end.
    while (true) {
      auto frame = connection->socket.receiveFrame(connection->peer.pid);
      if (!frame) {
        if (frame.error().message != "closed") logger_.error("%{public}s", {frame.error().message});
        break;
      }
      if (!fromTheAdmittedProgram(*connection)) break;
      auto request = platform::decodeRequest(*frame);
      if (!request) {
        logger_.error("%{public}s", {request.error().message});
        break;
      }
      std::int64_t id = request->id;
      bool replied = true;
      executeScriptWithCommand(request->command, [&](std::int32_t status) {
        replied = connection->socket.sendFrame(platform::encodeReply({id, status})).ok();
      });
      if (!replied) break;
    }
  } catch (const std::exception& error) {
    logger_.error("Closing a connection after an internal error: %{public}s", {error.what()});
  }
  connection->socket.close();
  connectionInvalidated(connection);
}

void ShelvoHelper::connectionInvalidated(const std::shared_ptr<Connection>& connection) {
  std::lock_guard lock(mutex_);
  auto found = std::find(connections_.begin(), connections_.end(), connection);
  if (found != connections_.end()) connections_.erase(found);
  if (connections_.empty() && admissions_ == 0) {
    logger_.debug("No more XPC connections, exiting...");
    quit();
  }
}

void ShelvoHelper::executeScriptWithCommand(const std::string& command,
                                            const std::function<void(std::int32_t)>& completion) {
  auto outcome = runner_.runScript(command);
  if (!outcome) {
    logger_.error("Error: %{public}s", {outcome.error().message});
  } else if (!outcome->ran()) {
    // A script zsh refuses ends the helper, and its client gets no reply.
    std::lock_guard lock(mutex_);
    quit(outcome->refusalStatus());
  } else {
    completion(outcome->exitStatus);
  }
}

}  // namespace shelvo
