#include "tests/support/background_process.h"

#include <fcntl.h>
#include <linux/sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace shelvo::test {

namespace {

// Starts the program as the given pid. Between clone3 and execve the child makes system calls
// only, as the child of a threaded process must.
pid_t spawnAsPid(pid_t pid, char* const* argv, char* const* envp, const std::string& outputFile) {
  clone_args arguments{};
  arguments.exit_signal = SIGCHLD;
  arguments.set_tid = reinterpret_cast<std::uintptr_t>(&pid);
  arguments.set_tid_size = 1;
  long child = ::syscall(SYS_clone3, &arguments, sizeof arguments);
  if (child != 0) return static_cast<pid_t>(child);
  int input = ::open("/dev/null", O_RDONLY);
  int output = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (input < 0 || output < 0 || ::dup2(input, 0) < 0 || ::dup2(output, 1) < 0 ||
      ::dup2(output, 2) < 0) {
    ::_exit(126);
  }
  ::execve(argv[0], argv, envp);
  ::_exit(127);
}

}  // namespace

BackgroundProcess::BackgroundProcess(std::vector<std::string> arguments,
                                     std::map<std::string, std::string> environment,
                                     const std::string& outputFile, pid_t pid) {
  std::vector<std::string> envStrings;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text(*entry);
    std::string name = text.substr(0, text.find('='));
    if (environment.count(name) == 0) envStrings.push_back(text);
  }
  for (const auto& [name, value] : environment) envStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& entry : envStrings) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  if (pid > 0) {
    pid_ = spawnAsPid(pid, argv.data(), envp.data(), outputFile);
    if (pid_ != pid)
      throw std::runtime_error("cannot start a process as pid " + std::to_string(pid));
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + arguments[0]);
}

BackgroundProcess::~BackgroundProcess() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

std::optional<int> BackgroundProcess::waitForExit(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (pid_ > 0) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

std::string awaitFileLine(const std::string& path, int timeoutMilliseconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(path);
    std::string line;
    if (in && std::getline(in, line) && !line.empty()) return line;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("timed out waiting for " + path);
}

bool eventually(const std::function<bool()>& happened) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!happened()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace shelvo::test
