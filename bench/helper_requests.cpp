// Requests of `exit 0` to the helper, against the floor of the two zsh launches each request
// needs (`zsh --no-rcs -n FILE` and `zsh -c --no-rcs 'exit 0'`), spawned directly. The two
// alternate in a hundred rounds of a tenth of a second or so, so a machine that slows down or
// speeds up, even from one second to the next, weighs on both alike.
//   helper-requests SOCKET REQUESTS CONNECTIONS
// prints: floor_ms_per_request helper_ms_per_request sequential_s parallel_s
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipc/helper_client.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

void spawnAndWait(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) std::abort();
  waitpid(pid, nullptr, 0);
}

double seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// One connection sending count requests, one after the other.
void requests(const std::string& socket, int count) {
  auto client = shelvo::platform::HelperClient::connect(socket);
  if (!client) std::abort();
  for (int i = 0; i < count; ++i) {
    auto reply = client->executeScript("exit 0");
    if (!reply || *reply != 0) std::abort();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: helper-requests SOCKET REQUESTS CONNECTIONS\n");
    return 2;
  }
  std::string socket = argv[1];
  int count = std::stoi(argv[2]);
  int connections = std::stoi(argv[3]);
  std::string script = "/tmp/helper-requests-" + std::to_string(getpid()) + ".zsh";
  std::ofstream(script) << "exit 0\n";

  auto client = shelvo::platform::HelperClient::connect(socket);
  if (!client) return 1;
  constexpr int kRounds = 100;
  Clock::duration floorTime{};
  Clock::duration helperTime{};
  for (int round = 0; round < kRounds; ++round) {
    auto start = Clock::now();
    for (int i = 0; i < count / kRounds; ++i) {
      spawnAndWait({"/bin/zsh", "--no-rcs", "-n", script});
      spawnAndWait({"/bin/zsh", "-c", "--no-rcs", "exit 0"});
    }
    floorTime += Clock::now() - start;
    start = Clock::now();
    for (int i = 0; i < count / kRounds; ++i) {
      auto reply = client->executeScript("exit 0");
      if (!reply || *reply != 0) return 1;
    }
    helperTime += Clock::now() - start;
  }
  double floor = seconds(floorTime) / count;
  double helper = seconds(helperTime) / count;
  std::remove(script.c_str());

  int share = count / connections;
  auto start = Clock::now();
  for (int c = 0; c < connections; ++c) requests(socket, share);
  double sequential = seconds(Clock::now() - start);

  start = Clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < connections; ++c) threads.emplace_back(requests, socket, share);
  for (auto& thread : threads) thread.join();
  double parallel = seconds(Clock::now() - start);

  std::printf("%.4f %.4f %.3f %.3f\n", floor * 1000, helper * 1000, sequential, parallel);
  client->close();
  return 0;
}
