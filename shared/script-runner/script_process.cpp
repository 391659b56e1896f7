#include "shared/script-runner/script_process.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/process/spawn.h"
#include "platform/text/stream_blanker.h"
#include "platform/text/utf8.h"
#include "platform/text/utf8_chunker.h"

namespace shelvo {
namespace {

constexpr int kScriptFd = 3;
// Reads the script from descriptor 3 into a variable (zsh reads "$(<file)" itself, without a
// subshell, in large reads), closes the descriptor so the script never sees it, and evaluates
// the text: the whole script is parsed before any of it runs, $0 is the launch path and there
// are no positional parameters. A script that cannot be read runs nothing.
constexpr const char* kBootstrap =
    "__shelvo_s=\"$(</dev/fd/3)\" || exit 126; exec 3<&-; "
    "eval \"unset __shelvo_s; $__shelvo_s\"";

constexpr std::size_t kReadSize = 1 << 20;
constexpr int kPipeSize = 1 << 20;
// After the script exits, the reader is given this long without progress to empty the pipe
// before the caller goes on; a background child may hold the pipe open indefinitely.
constexpr auto kDrainQuietPeriod = std::chrono::milliseconds(250);
constexpr auto kDrainLimit = std::chrono::seconds(5);

// The reader thread's state, shared with the caller until the caller stops waiting.
struct OutputReader {
  platform::UniqueFd readEnd;
  ScriptOutputHandler handler;
  std::function<void(std::string_view)> wrote;
  std::optional<platform::StreamBlanker> blanker;  // when there is a secret to blank
  std::mutex mutex;
  std::condition_variable changed;
  std::uint64_t chunksRead = 0;
  bool delivering = false;  // a chunk is in the handler: not quiet, however long it takes
  bool finished = false;

  void run() {
    auto buffer = std::make_unique_for_overwrite<char[]>(kReadSize);
    platform::Utf8Chunker chunker;
    auto deliver = [&](std::string_view bytes) {
      if (bytes.empty()) return;
      if (wrote) wrote(bytes);
      auto text = chunker.next(bytes);
      if (!text.empty()) handler(platform::trimNewlines(text));
    };
    // A read stays one chunk, secret blanked. One whose end could start the secret waits whole
    // for the next, so the chunks (log entries, printed lines) fall where they would have.
    std::string blanked;
    auto append = [&](std::string_view safe) { blanked.append(safe); };
    while (true) {
      ssize_t n = ::read(readEnd.get(), buffer.get(), kReadSize);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      setDelivering(true);
      std::string_view bytes(buffer.get(), static_cast<std::size_t>(n));
      if (!blanker) {
        deliver(bytes);
      } else {
        blanker->next(bytes, append);
        // A stream that keeps ending that way is not held back without bound.
        if (!blanker->holdsBack() || blanked.size() >= kReadSize) {
          deliver(blanked);
          blanked.clear();
        }
      }
      setDelivering(false);
    }
    if (blanker) {
      blanker->finish(append);
      deliver(blanked);
    }
    readEnd.reset();
    std::lock_guard lock(mutex);
    finished = true;
    changed.notify_all();
  }

  void setDelivering(bool busy) {
    std::lock_guard lock(mutex);
    delivering = busy;
    if (!busy) ++chunksRead;
    changed.notify_all();
  }

  // Waits while output is still coming: a chunk being handled, or a new read within the quiet
  // period; never past kDrainLimit.
  void awaitDrain() {
    auto deadline = std::chrono::steady_clock::now() + kDrainLimit;
    std::unique_lock lock(mutex);
    while (!finished) {
      if (delivering) {
        if (!changed.wait_until(lock, deadline, [&] { return finished || !delivering; })) break;
        continue;
      }
      std::uint64_t seen = chunksRead;
      auto until = std::min(deadline, std::chrono::steady_clock::now() + kDrainQuietPeriod);
      if (!changed.wait_until(lock, until,
                              [&] { return finished || delivering || chunksRead != seen; })) {
        break;
      }
    }
  }
};

platform::SpawnRequest zshRequest(const std::string& zshPath, std::vector<std::string> arguments,
                                  int scriptFd) {
  platform::SpawnRequest request{zshPath, std::move(arguments), {}};
  request.descriptors.emplace_back(kScriptFd, scriptFd);
  return request;
}

}  // namespace

platform::Result<platform::UniqueFd> makeScriptFile(std::string_view script) {
  return platform::makeSealedMemoryFile("shelvo-script", script);
}

platform::Result<std::int32_t> checkScriptSyntax(const std::string& zshPath, int scriptFile) {
  // zsh opens /dev/fd/3 anew, so the check leaves the file's shared offset alone.
  auto pid = platform::spawnProcess(
      zshRequest(zshPath, {zshPath, "--no-rcs", "-n", "/dev/fd/3"}, scriptFile));
  if (!pid) return pid.error();
  return platform::waitForTermination(*pid);
}

platform::Result<std::int32_t> executeScript(const std::string& zshPath, int scriptFile,
                                             ScriptOutputHandler handler,
                                             ScriptProcessWatch watch) {
  auto pipe = platform::makePipe();
  if (!pipe) return pipe.error();
  ::fcntl(pipe->writeEnd.get(), F_SETPIPE_SZ, kPipeSize);  // fewer, larger chunks; best effort

  auto request = zshRequest(zshPath, {zshPath, "-c", "--no-rcs", kBootstrap, zshPath}, scriptFile);
  request.descriptors.emplace_back(STDOUT_FILENO, pipe->writeEnd.get());
  auto pid = platform::spawnProcess(request);
  // The parent's write end must close in every case, or the reader never sees end of file.
  pipe->writeEnd.reset();
  if (!pid) return pid.error();
  if (watch.started) watch.started(*pid);

  auto reader = std::make_shared<OutputReader>();
  reader->readEnd = std::move(pipe->readEnd);
  reader->handler = std::move(handler);
  reader->wrote = std::move(watch.wrote);
  if (!watch.secret.empty()) reader->blanker.emplace(std::move(watch.secret));
  std::thread([reader] { reader->run(); }).detach();

  std::int32_t status = platform::waitForTermination(*pid);
  reader->awaitDrain();
  return status;
}

}  // namespace shelvo
