// A client of the helper for tests, signed in several ways by the tests. Its first argument is
// the socket to connect to (or fd:N, a connection it inherited); it connects on the first action
// that needs the connection, waits for the helper's greeting as clients must (a refusal shows in
// what follows), and carries out its actions in order, printing what happened:
//   run:SCRIPT        send a request and wait for its reply ("reply N" or "no reply")
//   send:SCRIPT       send a request without waiting
//   await             wait for the reply to the last request sent
//   sleep:MS          keep the connection open for a while
//   await-file:PATH   print "waiting", then wait until PATH exists
//   fork-run:SCRIPT   a forked child sends the request on this connection; wait for a reply
//   exec:PROGRAM      execute PROGRAM on this connection, handing it the remaining actions
//   oversize          announce a frame above the limit, then wait for a reply
//   badtype           send a request whose command is a number, then wait for a reply
//   deep:N            send a frame N arrays deep, then wait for a reply
//   send-early:SCRIPT connect and send a request without waiting for the greeting ("sent"),
//                     then wait for the greeting ("greeted" or "refused")
//   greeting          wait for the greeting on an inherited connection ("greeted" or "refused")
//   hold:N            open N more connections and keep those the helper greets ("held K")
//   announce:N        open N more greeted connections, each announcing a 64 MiB frame and
//                     sending one byte of it, and wait until the helper has read them
//                     ("announced K")
//   dumpable          make this process dumpable again, as a crash reporter might
//   close             close the connection
#include <fcntl.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipc/frame.h"
#include "platform/ipc/helper_client.h"
#include "platform/plist/plist.h"
#include "tests/support/deep_plist.h"

using shelvo::platform::HelperClient;

namespace {

void printReply(const shelvo::platform::Result<std::int32_t>& reply) {
  if (reply) {
    std::cout << "reply " << *reply << std::endl;
  } else {
    std::cout << "no reply" << std::endl;
  }
}

std::string requestWithNumericCommand() {
  auto request = shelvo::platform::makeDictionary();
  plist_dict_set_item(request.get(), "id", shelvo::platform::makeInteger(1).release());
  plist_dict_set_item(
      request.get(), "method",
      shelvo::platform::makeString("executeScriptWithCommand:completion:").release());
  plist_dict_set_item(request.get(), "command", shelvo::platform::makeInteger(7).release());
  return shelvo::platform::encodeFrame(shelvo::platform::toBinaryPlist(request.get()));
}

// Bounds on waiting for the helper are generous: they cost time only when a test fails.
constexpr std::chrono::seconds kPatience{60};

const char* greetingOutcome(HelperClient& client) {
  return client.awaitGreeting(kPatience) ? "greeted" : "refused";
}

// Opens count more connections; returns those the helper greeted, to be kept open.
std::vector<HelperClient> openMore(const std::string& socket, int count) {
  std::vector<HelperClient> held;
  for (int i = 0; i < count; ++i) {
    auto extra = HelperClient::connect(socket, kPatience);
    if (extra) held.push_back(std::move(*extra));
  }
  return held;
}

// Announces a 64 MiB frame and sends one byte of it on each connection, then waits until the
// helper has read them all (nothing left unread in the socket's send queue).
bool announce(const std::vector<HelperClient>& connections) {
  const char announcement[5] = {0x04, 0x00, 0x00, 0x00, 'b'};
  for (const auto& connection : connections) {
    if (!shelvo::platform::sendAll(connection.fd(), std::string_view(announcement, 5)))
      return false;
  }
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (const auto& connection : connections) {
    int unread = 1;
    while (::ioctl(connection.fd(), SIOCOUTQ, &unread) == 0 && unread > 0) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: helper-test-client SOCKET|fd:N ACTION...\n";
    return 2;
  }
  std::string target = argv[1];
  std::optional<HelperClient> client;
  if (target.starts_with("fd:")) {
    client = HelperClient::adopt(shelvo::platform::UniqueFd(std::stoi(target.substr(3))));
  }
  auto opened = [&]() -> HelperClient& {
    if (!client) {
      auto made = HelperClient::open(target);
      if (!made) {
        std::cout << "cannot connect" << std::endl;
        std::cerr << made.error().message << std::endl;
        std::exit(1);
      }
      client = HelperClient::adopt(std::move(*made));
    }
    return *client;
  };
  // A refused connection is closed, so every request on it goes unanswered.
  auto connected = [&]() -> HelperClient& {
    if (!client) opened().awaitGreeting(kPatience).ignoreError();
    return *client;
  };
  std::vector<HelperClient> held;
  std::int64_t lastId = 0;
  for (int i = 2; i < argc; ++i) {
    std::string action = argv[i];
    if (action.starts_with("run:")) {
      printReply(connected().executeScript(action.substr(4)));
    } else if (action.starts_with("send:")) {
      auto id = connected().sendScript(action.substr(5));
      lastId = id ? *id : 0;
      std::cout << (id ? "sent" : "not sent") << std::endl;
    } else if (action.starts_with("send-early:")) {
      auto id = opened().sendScript(action.substr(11));
      lastId = id ? *id : 0;
      std::cout << (id ? "sent" : "not sent") << std::endl;
      std::cout << greetingOutcome(*client) << std::endl;
    } else if (action == "greeting") {
      std::cout << greetingOutcome(opened()) << std::endl;
    } else if (action == "dumpable") {
      ::prctl(PR_SET_DUMPABLE, 1);
    } else if (action == "await") {
      printReply(connected().awaitReply(lastId));
    } else if (action.starts_with("sleep:")) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(action.substr(6))));
    } else if (action.starts_with("await-file:")) {
      std::cout << "waiting" << std::endl;
      while (!std::filesystem::exists(action.substr(11)))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else if (action.starts_with("fork-run:")) {
      HelperClient& connection = connected();
      pid_t child = ::fork();
      if (child == 0) {
        connection.sendScript(action.substr(9)).ignoreError();  // the parent reads the answer
        ::_exit(0);
      }
      ::waitpid(child, nullptr, 0);
      printReply(connection.awaitReply(1));
    } else if (action.starts_with("exec:")) {
      int fd = connected().fd();
      ::fcntl(fd, F_SETFD, 0);
      std::string program = action.substr(5);
      std::string inherited = "fd:" + std::to_string(fd);
      std::vector<char*> arguments{program.data(), inherited.data()};
      for (int rest = i + 1; rest < argc; ++rest) arguments.push_back(argv[rest]);
      arguments.push_back(nullptr);
      std::cout.flush();
      ::execv(program.c_str(), arguments.data());
      std::cout << "cannot execute " << program << std::endl;
      return 1;
    } else if (action == "oversize") {
      const unsigned char header[4] = {0x04, 0x00, 0x00, 0x01};  // 64 MiB + 1
      // Each of these frames is judged by the reply that follows, or its absence.
      shelvo::platform::sendAll(connected().fd(),
                                std::string_view(reinterpret_cast<const char*>(header), 4))
          .ignoreError();
      printReply(connected().awaitReply(1));
    } else if (action == "badtype") {
      shelvo::platform::sendAll(connected().fd(), requestWithNumericCommand()).ignoreError();
      printReply(connected().awaitReply(1));
    } else if (action.starts_with("deep:")) {
      auto payload = shelvo::test::deepBinaryPlist(std::stoul(action.substr(5)));
      shelvo::platform::sendAll(connected().fd(), shelvo::platform::encodeFrame(payload))
          .ignoreError();
      printReply(connected().awaitReply(1));
    } else if (action.starts_with("hold:")) {
      auto more = openMore(target, std::stoi(action.substr(5)));
      std::cout << "held " << more.size() << std::endl;
      for (auto& extra : more) held.push_back(std::move(extra));
    } else if (action.starts_with("announce:")) {
      auto more = openMore(target, std::stoi(action.substr(9)));
      std::cout << "announced " << (announce(more) ? more.size() : 0) << std::endl;
      for (auto& extra : more) held.push_back(std::move(extra));
    } else if (action == "close") {
      connected().close();
    } else {
      std::cerr << "unknown action " << action << "\n";
      return 2;
    }
  }
  return 0;
}
