#include "shared/script-runner/script_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/env/files.h"
#include "platform/process/spawn.h"
#include "platform/system/process_identity.h"
#include "platform/text/stream_blanker.h"
#include "platform/text/utf8.h"
#include "platform/text/utf8_chunker.h"

namespace shelvo {
namespace {

constexpr int kScriptFd = 3;
constexpr int kGoFd = 4;
// Waits for descriptor 4 to say the script is in place, reads it from descriptor 3 into a variable
// (zsh reads "$(<file)" itself, without a subshell, in large reads), closes both descriptors so
// the script never sees them, and evaluates the text: the whole script is parsed before any of it
// runs, $0 is the launch path and there are no positional parameters. Without that word (its
// writer gone) or without a readable script, nothing runs.
constexpr const char* kBootstrap =
    "__shelvo_go=; read -r -k 2 -u 4 __shelvo_go 2>/dev/null; exec 4<&-; "
    "[[ $__shelvo_go == go ]] || exit 126; "
    "__shelvo_s=\"$(</dev/fd/3)\" || exit 126; exec 3<&-; "
    "eval \"unset __shelvo_go __shelvo_s; $__shelvo_s\"";

constexpr std::size_t kReadSize = 1 << 20;
constexpr int kPipeSize = 1 << 20;
// After the script exits, the output is given this long without progress to come before the
// caller goes on; a background child may hold the pipe open indefinitely.
constexpr auto kDrainQuietPeriod = std::chrono::milliseconds(250);
constexpr auto kDrainLimit = std::chrono::seconds(5);
// Without a pidfd the script's end is looked for this often.
constexpr int kExitCheckMillis = 50;

// The script's output: read and handled on the thread that waits for the script, and once the
// script has ended and the caller goes on, on a thread of its own while a background child still
// holds the pipe open.
class OutputReader {
 public:
  OutputReader(platform::UniqueFd readEnd, ScriptOutputHandler handler,
               std::function<void(std::string_view)> wrote, std::string secret)
      : readEnd_(std::move(readEnd)), handler_(std::move(handler)), wrote_(std::move(wrote)) {
    if (!secret.empty()) blanker_.emplace(std::move(secret));
  }

  int fd() const { return readEnd_.get(); }

  // One read of the pipe, handled; false at its end (or a failure), after the last output has
  // been handled and the pipe closed.
  bool readOnce() {
    ssize_t n;
    do {
      n = ::read(readEnd_.get(), buffer_.get(), kReadSize);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
      finish();
      return false;
    }
    std::string_view bytes(buffer_.get(), static_cast<std::size_t>(n));
    if (!blanker_) {
      deliver(bytes);
      return true;
    }
    // A read stays one chunk, secret blanked. One whose end could start the secret waits whole
    // for the next, so the chunks (log entries, printed lines) fall where they would have.
    blanker_->next(bytes, [&](std::string_view safe) { blanked_.append(safe); });
    // A stream that keeps ending that way is not held back without bound.
    if (!blanker_->holdsBack() || blanked_.size() >= kReadSize) {
      deliver(blanked_);
      blanked_.clear();
    }
    return true;
  }

 private:
  void deliver(std::string_view bytes) {
    if (bytes.empty()) return;
    if (wrote_) wrote_(bytes);
    auto text = chunker_.next(bytes);
    if (!text.empty()) handler_(platform::trimNewlines(text));
  }

  void finish() {
    if (blanker_) {
      blanker_->finish([&](std::string_view safe) { blanked_.append(safe); });
      deliver(blanked_);
      blanked_.clear();
    }
    readEnd_.reset();
  }

  platform::UniqueFd readEnd_;
  ScriptOutputHandler handler_;
  std::function<void(std::string_view)> wrote_;
  std::optional<platform::StreamBlanker> blanker_;  // when there is a secret to blank
  std::unique_ptr<char[]> buffer_ = std::make_unique_for_overwrite<char[]>(kReadSize);
  platform::Utf8Chunker chunker_;
  std::string blanked_;
};

// Whether the child has ended; it stays unreaped.
bool hasExited(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

// Handles the output while the script runs, then what it left in the pipe: until the pipe's end,
// or until it has been quiet for a while after the script's end, never past kDrainLimit. Returns
// with the script ended; the reader is done when the pipe reached its end.
bool readUntilScriptEnds(OutputReader& reader, pid_t pid) {
  using Clock = std::chrono::steady_clock;
  platform::UniqueFd process = platform::openProcess(pid);
  std::optional<Clock::time_point> drainDeadline;
  Clock::time_point quietUntil{};
  bool open = true;
  while (open || !drainDeadline) {
    int timeout = -1;
    if (drainDeadline) {
      auto left = std::min(*drainDeadline, quietUntil) - Clock::now();
      if (left <= Clock::duration::zero()) break;
      timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    } else if (!process) {
      timeout = kExitCheckMillis;
    }
    pollfd watched[2] = {{open ? reader.fd() : -1, POLLIN, 0}, {process.get(), POLLIN, 0}};
    if (::poll(watched, 2, timeout) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    // What the script wrote before it ended stays in the pipe for the drain below.
    if (open && (watched[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      open = reader.readOnce();
      if (drainDeadline) quietUntil = Clock::now() + kDrainQuietPeriod;
    }
    // Looked at after every read too: output that never pauses must not hide the script's end.
    bool ended = process ? (watched[1].revents & POLLIN) != 0 : hasExited(pid);
    if (ended && !drainDeadline) {
      drainDeadline = Clock::now() + kDrainLimit;
      quietUntil = Clock::now() + kDrainQuietPeriod;
    }
  }
  return open;
}

platform::SpawnRequest zshRequest(const std::string& zshPath, std::vector<std::string> arguments,
                                  int scriptFd) {
  platform::SpawnRequest request{zshPath, std::move(arguments), {}};
  request.descriptors.emplace_back(kScriptFd, scriptFd);
  return request;
}

}  // namespace

SyntaxCheck::SyntaxCheck(SyntaxCheck&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::move(other.input_)),
      notStarted_(std::move(other.notStarted_)) {}

SyntaxCheck::~SyntaxCheck() {
  if (pid_ < 0) return;
  input_.reset();
  platform::waitForTermination(pid_);
}

SyntaxCheck SyntaxCheck::start(const std::string& zshPath) {
  auto pipe = platform::makePipe();
  if (!pipe) return SyntaxCheck(pipe.error());
  ::fcntl(pipe->writeEnd.get(), F_SETPIPE_SZ, kPipeSize);  // fewer, larger writes; best effort
  // zsh opens /dev/fd/3 itself, as it would a script file, and reads it to its end.
  auto pid = platform::spawnProcess(
      zshRequest(zshPath, {zshPath, "--no-rcs", "-n", "/dev/fd/3"}, pipe->readEnd.get()));
  if (!pid) return SyntaxCheck(pid.error());
  return SyntaxCheck(*pid, std::move(pipe->writeEnd));
}

platform::Result<std::int32_t> SyntaxCheck::verdict(std::string_view script) {
  if (notStarted_) return *notStarted_;
  if (pid_ < 0) return platform::Error{"the syntax check has already given its verdict"};
  // zsh stops reading early only at an error, and then ends with a non-zero status.
  auto written = platform::writeAllToPipe(input_.get(), script);
  input_.reset();
  // A check that was killed, or passed without reading the whole text, has not checked it.
  auto status = platform::waitForExit(std::exchange(pid_, -1));
  if (status && *status == 0 && !written) {
    return platform::Error{"the syntax check ended before it read the whole script"};
  }
  return status;
}

PreparedRun::PreparedRun(PreparedRun&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      script_(std::move(other.script_)),
      go_(std::move(other.go_)),
      output_(std::move(other.output_)),
      notStarted_(std::move(other.notStarted_)) {}

PreparedRun::~PreparedRun() {
  if (pid_ < 0) return;
  // Never told to go, zsh runs nothing; it need not be waited for to see that.
  go_.reset();
  ::kill(pid_, SIGKILL);
  platform::waitForTermination(pid_);
}

PreparedRun PreparedRun::start(const std::string& zshPath) {
  auto script = platform::makeMemoryFile("shelvo-script");
  if (!script) return PreparedRun(script.error());
  // zsh reads the file through its own opening, which cannot write.
  auto scriptReader = platform::openReadOnly(script->get());
  if (!scriptReader) return PreparedRun(scriptReader.error());
  auto go = platform::makePipe();
  if (!go) return PreparedRun(go.error());
  auto output = platform::makePipe();
  if (!output) return PreparedRun(output.error());
  ::fcntl(output->writeEnd.get(), F_SETPIPE_SZ, kPipeSize);  // fewer, larger chunks; best effort

  auto request =
      zshRequest(zshPath, {zshPath, "-c", "--no-rcs", kBootstrap, zshPath}, scriptReader->get());
  request.descriptors.emplace_back(kGoFd, go->readEnd.get());
  request.descriptors.emplace_back(STDOUT_FILENO, output->writeEnd.get());
  auto pid = platform::spawnProcess(request);
  // The parent's write end of the output must close in every case, or the reader never sees end
  // of file.
  output->writeEnd.reset();
  if (!pid) return PreparedRun(pid.error());
  PreparedRun run;
  run.pid_ = *pid;
  run.script_ = std::move(*script);
  run.go_ = std::move(go->writeEnd);
  run.output_ = std::move(output->readEnd);
  return run;
}

platform::Result<pid_t> PreparedRun::handOver(std::string_view script,
                                              const std::function<void(pid_t)>& started) {
  if (notStarted_) return *notStarted_;
  if (pid_ < 0) return platform::Error{"the script's zsh has already been given a script"};
  // Sealed before zsh may read it: what runs is exactly the text the check was given.
  auto placed = platform::fillAndSeal(script_.get(), script);
  script_.reset();
  // Told before the script may run, so that a run stopped meanwhile ends before it does anything.
  if (placed && started) started(pid_);
  if (placed) placed = platform::writeAllToPipe(go_.get(), "go");
  go_.reset();
  if (!placed) {
    // Without the word zsh runs nothing.
    ::kill(pid_, SIGKILL);
    platform::waitForTermination(std::exchange(pid_, -1));
    return platform::Error{"cannot hand the script to zsh: " + placed.error().message};
  }
  return std::exchange(pid_, -1);
}

platform::Result<std::int32_t> executeScript(PreparedRun run, std::string_view script,
                                             ScriptOutputHandler handler,
                                             ScriptProcessWatch watch) {
  auto pid = run.handOver(script, watch.started);
  if (!pid) return pid.error();
  if (watch.running) watch.running();

  auto reader = std::make_shared<OutputReader>(run.takeOutput(), std::move(handler),
                                               std::move(watch.wrote), std::move(watch.secret));
  if (readUntilScriptEnds(*reader, *pid)) {
    // A background child still holds the pipe: its later output is handled while it lives. When
    // no thread can be made (the script's children may have used them up), that output is let
    // go with the pipe, and the run is still recorded.
    try {
      std::thread([reader] {
        while (reader->readOnce()) {
        }
      }).detach();
    } catch (const std::system_error&) {
    }
  }
  return platform::waitForTermination(*pid);
}

}  // namespace shelvo
