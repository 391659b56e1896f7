#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace shelvo::test {

// A program running beside the test, ended (SIGTERM, then SIGKILL) when this goes out of scope.
// Its standard output and error go to the given file, or to /dev/null. Given a pid, it runs as
// that pid, which must be free (clone3 with set_tid: root only; the program is found by path,
// not on PATH).
class BackgroundProcess {
 public:
  BackgroundProcess(std::vector<std::string> arguments,
                    std::map<std::string, std::string> environment = {},
                    const std::string& outputFile = "/dev/null", pid_t pid = 0);
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  pid_t pid() const { return pid_; }
  // The exit status once the process has ended within timeout (-1 for a signal), else nothing.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
};

// Waits until happened() holds, 60 s at most (generous, for a busy machine); returns whether it
// does.
bool eventually(const std::function<bool()>& happened);

// Waits until the file exists and is not empty, and returns its first line; throws after the
// timeout.
std::string awaitFileLine(const std::string& path, int timeoutMilliseconds = 10000);

}  // namespace shelvo::test
