#include "platform/env/stop_signals.h"

#include <pthread.h>

#include <csignal>
#include <thread>

namespace shelvo::platform {

void watchStopSignals(std::function<void(int signal)> onStop) {
  sigset_t stops;
  ::sigemptyset(&stops);
  ::sigaddset(&stops, SIGTERM);
  ::sigaddset(&stops, SIGINT);
  ::pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  std::thread([stops, onStop = std::move(onStop)] {
    while (true) {
      int signal = 0;
      if (::sigwait(&stops, &signal) == 0) onStop(signal);
    }
  }).detach();
}

}  // namespace shelvo::platform
