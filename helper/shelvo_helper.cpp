#include "helper/shelvo_helper.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <thread>

#include "platform/ipc/helper_messages.h"

namespace shelvo {
namespace {

constexpr int kAcceptSliceMilliseconds = 1000;

// The file a process runs, to notice it exec another program while connected.
struct ExecutableIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const ExecutableIdentity&) const = default;
};

std::optional<ExecutableIdentity> executableOf(pid_t pid) {
  struct stat info {};
  if (::stat(("/proc/" + std::to_string(pid) + "/exe").c_str(), &info) != 0) return std::nullopt;
  return ExecutableIdentity{info.st_dev, info.st_ino};
}

}  // namespace

struct ShelvoHelper::Connection {
  explicit Connection(platform::UniqueFd fd) : socket(std::move(fd)) {}
  platform::PeerSocket socket;
  platform::PeerCredentials peer;
  std::optional<ExecutableIdentity> executable;
};

ShelvoHelper::ShelvoHelper(platform::ListenerSocket listener, platform::Logger logger,
                           platform::RootPrefix root)
    : listener_(std::move(listener)),
      logger_(logger),
      root_(std::move(root)),
      runner_(logger, std::make_shared<platform::StandardOutput>()) {}

void ShelvoHelper::resume() {
  std::thread([this] { listen(); }).detach();
}

void ShelvoHelper::runUntilQuit() {
  auto slice = std::chrono::duration_cast<std::chrono::milliseconds>(shouldQuitCheckInterval);
  std::unique_lock lock(mutex_);
  while (!shouldQuit_) quitSignal_.wait_for(lock, slice);
}

void ShelvoHelper::quit() {
  shouldQuit_ = true;
  quitSignal_.notify_all();
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

bool ShelvoHelper::shouldAcceptNewConnection(platform::UniqueFd socket) {
  auto connection = std::make_shared<Connection>(std::move(socket));
  auto anchors = platform::TrustAnchors::load(platform::TrustAnchors::folder(root_));
  if (!isValidClient(connection->socket, connection->peer, anchors, logger_)) {
    // Only this client is turned away; the helper ends if nobody else is connected.
    connection->socket.close();
    std::lock_guard lock(mutex_);
    if (connections_.empty()) quit();
    return false;
  }
  connection->executable = executableOf(connection->peer.pid);
  {
    std::lock_guard lock(mutex_);
    connections_.push_back(connection);
  }
  std::thread([this, connection] { serve(connection); }).detach();
  return true;
}

void ShelvoHelper::serve(const std::shared_ptr<Connection>& connection) {
  // Requests on one connection are served in order, each to its end.
  while (true) {
    auto frame = connection->socket.receiveFrame(connection->peer.pid);
    if (!frame) {
      if (frame.error().message != "closed") logger_.error("%{public}s", {frame.error().message});
      break;
    }
    if (executableOf(connection->peer.pid) != connection->executable) {
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
      replied = connection->socket.sendFrame(platform::encodeReply({id, status}));
    });
    if (!replied) break;
  }
  connection->socket.close();
  connectionInvalidated(connection);
}

void ShelvoHelper::connectionInvalidated(const std::shared_ptr<Connection>& connection) {
  std::lock_guard lock(mutex_);
  auto found = std::find(connections_.begin(), connections_.end(), connection);
  if (found != connections_.end()) connections_.erase(found);
  if (connections_.empty()) {
    logger_.debug("No more XPC connections, exiting...");
    quit();
  }
}

void ShelvoHelper::executeScriptWithCommand(const std::string& command,
                                            const std::function<void(std::int32_t)>& completion) {
  try {
    runner_.runScript(command, completion);
  } catch (const ScriptLaunchError& error) {
    logger_.error("Error: %{public}s", {error.what()});
  }
}

}  // namespace shelvo
