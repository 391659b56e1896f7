// shelvo-demo-service: a small HTTPS app service on loopback, for the demo and the tests.
#include <signal.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <thread>

#include "shared/sealing/decryption_keys.h"
#include "tools/demo-service/app_service.h"

namespace {

constexpr const char* kUsage =
    "usage: shelvo-demo-service --scripts DIR [--apps FILE] [--port N] [--credential TOKEN]\n"
    "                           [--ca-out FILE] [--ready-file FILE] [--request-log FILE]\n";

}  // namespace

int main(int argc, char** argv) {
  shelvo::demo::AppServiceOptions options;
  options.sealingKey = std::string(shelvo::DecryptionKeys::keyText);
  options.credential = "demo-credential";
  int port = 0;
  std::string caOut;
  std::string readyFile;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (i + 1 >= argc) {
      std::cerr << "shelvo-demo-service: " << option << " needs a value\n" << kUsage;
      return 2;
    }
    std::string value = argv[++i];
    if (option == "--scripts") {
      options.scriptsFolder = value;
    } else if (option == "--apps") {
      options.appList = value;
    } else if (option == "--port") {
      port = std::atoi(value.c_str());
    } else if (option == "--credential") {
      options.credential = value;
    } else if (option == "--ca-out") {
      caOut = value;
    } else if (option == "--ready-file") {
      readyFile = value;
    } else if (option == "--request-log") {
      options.requestLog = value;
    } else {
      std::cerr << "shelvo-demo-service: unknown option " << option << "\n" << kUsage;
      return 2;
    }
  }
  if (options.scriptsFolder.empty()) {
    std::cerr << kUsage;
    return 2;
  }

  // Block the stop signals in every thread; the main thread waits for them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  auto identity = shelvo::demo::TlsIdentity::generate();
  if (!caOut.empty()) std::ofstream(caOut) << identity.authorityPem();
  shelvo::demo::AppService service(identity, options);
  int bound = service.bindLoopback(port);
  if (bound < 0) {
    std::cerr << "shelvo-demo-service: cannot listen on 127.0.0.1:" << port << "\n";
    return 1;
  }
  std::thread serving([&] { service.serve(); });
  std::string url = "https://127.0.0.1:" + std::to_string(bound);
  std::cout << "listening on " << url << std::endl;
  if (!readyFile.empty()) {
    std::string temporary = readyFile + ".tmp";
    std::ofstream(temporary) << url << "\n";
    std::rename(temporary.c_str(), readyFile.c_str());
  }
  int received = 0;
  sigwait(&stopSignals, &received);
  service.stop();
  serving.join();
  return 0;
}
