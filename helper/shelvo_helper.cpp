#include "helper/shelvo_helper.h"

#include <algorithm>
#include <future>
#include <optional>
#include <thread>

#include "platform/ipc/helper_messages.h"

namespace shelvo {
namespace {

constexpr int kAcceptSliceMilliseconds = 1000;
// Admission reads files and /proc; whatever a peer does to slow that down, its connection is
// refused after this long, and the check that hangs holds only that peer's slot.
constexpr std::chrono::seconds kAdmissionTimeout{2};

}  // namespace

struct ShelvoHelper::Connection {
  explicit Connection(platform::UniqueFd fd) : socket(std::move(fd)) {}
  platform::PeerSocket socket;
  platform::PeerCredentials peer;
  std::optional<platform::ExecutableIdentity> executable;
  std::shared_ptr<ConnectionLimits::Slot> slot;
};

ShelvoHelper::ShelvoHelper(platform::ListenerSocket listener, platform::Logger logger,
                           platform::RootPrefix root)
    : listener_(std::move(listener)),
      logger_(logger),
      root_(std::move(root)),
      runner_(logger, std::make_shared<platform::StandardOutput>(), "/bin/zsh",
              {std::make_shared<platform::LogindInhibitor>("ShelvoHelper")}) {}

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
    if (!client) {
      logger_.error("%{public}s", {client.error().message});
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    if (*client) shouldAcceptNewConnection(std::move(*client));
  }
}

void ShelvoHelper::shouldAcceptNewConnection(platform::UniqueFd socket) {
  auto connection = std::make_shared<Connection>(std::move(socket));
  auto credentials = connection->socket.credentials();
  if (!credentials) {
    logger_.error("Unable to get the property 'auditToken' from the connection");
    connection->socket.close();
    quitIfNobodyIsLeft();
    return;
  }
  connection->peer = *credentials;
  auto reservation = limits_.reserve(connection->peer.uid);
  if (!reservation.slot) {
    auto uid = static_cast<std::int64_t>(connection->peer.uid);
    switch (reservation.refusedBy) {
      case ConnectionLimits::Cap::perUser:
        logger_.error("Too many connections from user %d (per-user limit 16); refusing a new one",
                      {uid});
        break;
      case ConnectionLimits::Cap::total:
        logger_.error(
            "Too many connections in all (total limit 256); refusing a new one from user %d",
            {uid});
        break;
      case ConnectionLimits::Cap::ceiling:
        logger_.error(
            "Too many connections in all (hard limit 1024); refusing a new one from user %d",
            {uid});
        break;
    }
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
  std::optional<AdmittedClient> admitted;
  try {
    // The check runs on a thread of its own so that a check that hangs cannot hold this one.
    auto outcome = std::make_shared<std::promise<std::optional<AdmittedClient>>>();
    auto result = outcome->get_future();
    std::thread([this, connection, outcome] {
      try {
        auto anchors = platform::TrustAnchors::load(platform::TrustAnchors::folder(root_));
        outcome->set_value(admitClient(connection->socket, connection->peer, anchors, logger_));
      } catch (const std::exception& error) {
        logger_.error("Cannot check a client: %{public}s", {error.what()});
        outcome->set_value(std::nullopt);
      }
    }).detach();
    if (result.wait_for(kAdmissionTimeout) != std::future_status::ready) {
      logger_.error("NSXPC client does not meet the requirements. %{public}s",
                    {"its check did not finish within 2 seconds"});
    } else {
      admitted = result.get();
    }
  } catch (const std::exception& error) {
    logger_.error("Cannot check a client: %{public}s", {error.what()});
  }
  if (!admitted) {
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

void ShelvoHelper::refused(const std::shared_ptr<Connection>& connection) {
  connection->socket.close();
  {
    std::lock_guard lock(mutex_);
    --admissions_;
  }
  quitIfNobodyIsLeft();
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
      if (platform::executableIdentity(connection->peer.pid) != connection->executable) {
        logger_.error("The client started another program; closing its connection");
        break;
      }
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
