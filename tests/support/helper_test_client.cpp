// A client of the helper for tests, signed in several ways by the tests. Its first argument is
// the socket to connect to (or fd:N, a connection it inherited); it connects on the first action
// that needs the connection, and carries out its actions in order, printing what happened:
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
//   idle:N            open N more connections and keep them, sending nothing ("held K")
//   announce:N        open N more connections, each announcing a 64 MiB frame and sending one
//                     byte of it ("announced K")
//   close             close the connection
#include <fcntl.h>
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

// Opens count more connections, sending prefix on each; returns them, to be kept open.
std::vector<HelperClient> openMore(const std::string& socket, int count, std::string_view prefix) {
  std::vector<HelperClient> held;
  for (int i = 0; i < count; ++i) {
    auto extra = HelperClient::connect(socket);
    if (!extra) break;
    if (!prefix.empty() && !shelvo::platform::sendAll(extra->fd(), prefix)) break;
    held.push_back(std::move(*extra));
  }
  return held;
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
  auto connected = [&]() -> HelperClient& {
    if (!client) {
      auto made = HelperClient::connect(target);
      if (!made) {
        std::cout << "cannot connect" << std::endl;
        std::cerr << made.error().message << std::endl;
        std::exit(1);
      }
      client = std::move(*made);
    }
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
        connection.sendScript(action.substr(9));
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
      shelvo::platform::sendAll(connected().fd(),
                                std::string_view(reinterpret_cast<const char*>(header), 4));
      printReply(connected().awaitReply(1));
    } else if (action == "badtype") {
      shelvo::platform::sendAll(connected().fd(), requestWithNumericCommand());
      printReply(connected().awaitReply(1));
    } else if (action.starts_with("deep:")) {
      auto payload = shelvo::test::deepBinaryPlist(std::stoul(action.substr(5)));
      shelvo::platform::sendAll(connected().fd(), shelvo::platform::encodeFrame(payload));
      printReply(connected().awaitReply(1));
    } else if (action.starts_with("idle:")) {
      connected();
      auto more = openMore(target, std::stoi(action.substr(5)), "");
      std::cout << "held " << more.size() << std::endl;
      for (auto& extra : more) held.push_back(std::move(extra));
    } else if (action.starts_with("announce:")) {
      connected();
      const char announcement[5] = {0x04, 0x00, 0x00, 0x00, 'b'};  // 64 MiB, then one byte
      auto more = openMore(target, std::stoi(action.substr(9)), std::string_view(announcement, 5));
      std::cout << "announced " << more.size() << std::endl;
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
