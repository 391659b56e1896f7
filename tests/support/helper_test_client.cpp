// A client of the helper for tests, signed in several ways by the tests. It connects to the
// socket and carries out its arguments in order, printing what happened:
//   run:SCRIPT        send a request and wait for its reply ("reply N" or "no reply")
//   send:SCRIPT       send a request without waiting
//   sleep:MS          keep the connection open for a while
//   fork-run:SCRIPT   a forked child sends the request on this connection; wait for a reply
//   oversize          announce a frame above the limit, then wait for a reply
//   badtype           send a request whose command is a number, then wait for a reply
//   close             close the connection
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "platform/ipc/frame.h"
#include "platform/ipc/helper_client.h"
#include "platform/plist/plist.h"

using shelvo::platform::HelperClient;

namespace {

void printReply(const shelvo::platform::Result<std::int32_t>& reply) {
  if (reply) {
    std::cout << "reply " << *reply << std::endl;
  } else {
    std::cout << "no reply" << std::endl;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: helper-test-client SOCKET ACTION...\n";
    return 2;
  }
  auto client = HelperClient::connect(argv[1]);
  if (!client) {
    std::cout << "cannot connect" << std::endl;
    return 1;
  }
  std::int64_t lastId = 0;
  for (int i = 2; i < argc; ++i) {
    std::string action = argv[i];
    if (action.starts_with("run:")) {
      printReply(client->executeScript(action.substr(4)));
    } else if (action.starts_with("send:")) {
      auto id = client->sendScript(action.substr(5));
      lastId = id ? *id : 0;
      std::cout << (id ? "sent" : "not sent") << std::endl;
    } else if (action.starts_with("sleep:")) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(action.substr(6))));
    } else if (action.starts_with("fork-run:")) {
      pid_t child = ::fork();
      if (child == 0) {
        client->sendScript(action.substr(9));
        ::_exit(0);
      }
      ::waitpid(child, nullptr, 0);
      printReply(client->awaitReply(1));
    } else if (action == "oversize") {
      const unsigned char header[4] = {0x04, 0x00, 0x00, 0x01};  // 64 MiB + 1
      client->sendRaw(std::string_view(reinterpret_cast<const char*>(header), 4));
      printReply(client->awaitReply(1));
    } else if (action == "badtype") {
      auto request = shelvo::platform::makeDictionary();
      plist_dict_set_item(request.get(), "id", shelvo::platform::makeInteger(1).release());
      plist_dict_set_item(
          request.get(), "method",
          shelvo::platform::makeString("executeScriptWithCommand:completion:").release());
      plist_dict_set_item(request.get(), "command", shelvo::platform::makeInteger(7).release());
      client->sendRaw(
          shelvo::platform::encodeFrame(shelvo::platform::toBinaryPlist(request.get())));
      printReply(client->awaitReply(1));
    } else if (action == "await") {
      printReply(client->awaitReply(lastId));
    } else if (action == "close") {
      client->close();
    } else {
      std::cerr << "unknown action " << action << "\n";
      return 2;
    }
  }
  return 0;
}
