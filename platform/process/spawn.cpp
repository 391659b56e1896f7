#include "platform/process/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/env/files.h"

extern char** environ;

namespace shelvo::platform {
namespace {

// Copies of the parent's descriptors are moved above this before they are installed, so that
// installing one never overwrites the source of another.
constexpr int kFirstStagingFd = 10;

Error errnoError(std::string_view what, int code) {
  return Error{std::string(what) + ": " + std::strerror(code)};
}

class FileActions {
 public:
  FileActions() { ::posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
};

// Children start with every signal at its default action and none blocked: the programs
// ignore SIGPIPE for themselves, and a script must still die of it (`yes | head -n1`).
class DefaultSignals {
 public:
  DefaultSignals() {
    ::posix_spawnattr_init(&attributes_);
    sigset_t all;
    sigset_t none;
    ::sigfillset(&all);
    ::sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attributes_, &all);
    ::posix_spawnattr_setsigmask(&attributes_, &none);
    ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~DefaultSignals() { ::posix_spawnattr_destroy(&attributes_); }
  DefaultSignals(const DefaultSignals&) = delete;
  DefaultSignals& operator=(const DefaultSignals&) = delete;
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_{};
};

}  // namespace

Result<pid_t> spawnProcess(const SpawnRequest& request) {
  std::vector<UniqueFd> staged;
  FileActions actions;
  int highestTarget = 2;
  for (const auto& [target, source] : request.descriptors) {
    UniqueFd copy(::fcntl(source, F_DUPFD_CLOEXEC, kFirstStagingFd));
    if (!copy) return errnoError("cannot prepare descriptor", errno);
    ::posix_spawn_file_actions_adddup2(actions.get(), copy.get(), target);
    highestTarget = std::max(highestTarget, target);
    staged.push_back(std::move(copy));
  }
  ::posix_spawn_file_actions_addclosefrom_np(actions.get(), highestTarget + 1);

  std::vector<char*> argv;
  argv.reserve(request.arguments.size() + 1);
  for (const auto& argument : request.arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  DefaultSignals signals;
  int rc =
      ::posix_spawn(&pid, request.path.c_str(), actions.get(), signals.get(), argv.data(), environ);
  if (rc != 0) return errnoError("cannot start " + request.path, rc);
  return pid;
}

namespace {

// The raw wait status of the child, or -1 when it cannot be waited for.
int waitStatus(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

}  // namespace

int waitForTermination(pid_t pid) {
  int status = waitStatus(pid);
  if (status < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return WTERMSIG(status);
  return status;
}

Result<int> waitForExit(pid_t pid) {
  int status = waitStatus(pid);
  if (status < 0) return errnoError("cannot wait for process " + std::to_string(pid), errno);
  if (WIFSIGNALED(status)) {
    return Error{"process " + std::to_string(pid) + " was ended by signal " +
                 std::to_string(WTERMSIG(status))};
  }
  return WEXITSTATUS(status);
}

Result<Pipe> makePipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return errnoError("cannot create pipe", errno);
  return Pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
}

Result<UniqueFd> makeMemoryFile(const char* name) {
  UniqueFd file(::memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!file) return errnoError("cannot create memory file", errno);
  return file;
}

Result<UniqueFd> openReadOnly(int memoryFile) {
  // A fresh opening: its own position, and no way to write through it.
  std::string path = "/proc/self/fd/" + std::to_string(memoryFile);
  UniqueFd reader(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!reader) return errnoError("cannot open memory file for reading", errno);
  return reader;
}

Status fillAndSeal(int memoryFile, std::string_view bytes) {
  if (!writeAll(memoryFile, bytes)) return errnoError("cannot fill memory file", errno);
  if (::fcntl(memoryFile, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) !=
      0) {
    return errnoError("cannot seal memory file", errno);
  }
  // Sealed, the file can no longer change: it holds these bytes and nothing else, or it is refused.
  struct ::stat info {};
  if (::fstat(memoryFile, &info) != 0) return errnoError("cannot check memory file", errno);
  if (static_cast<std::size_t>(info.st_size) != bytes.size())
    return Error{"the memory file does not hold exactly the bytes written into it"};
  return success();
}

}  // namespace shelvo::platform
