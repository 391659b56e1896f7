#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstdio>

namespace shelvo::test {

// Takes the well-known name, tells the test it is ready by writing readyFile, then answers
// calls until the process is ended. Returns only on a bus failure.
inline int serveOnBus(sd_bus* bus, const char* name, const char* readyFile) {
  if (sd_bus_request_name(bus, name, 0) < 0) return 1;
  if (FILE* ready = std::fopen(readyFile, "w")) {
    std::fputs("ready\n", ready);
    std::fclose(ready);
  }
  for (;;) {
    int processed = sd_bus_process(bus, nullptr);
    if (processed < 0) return 1;
    if (processed > 0) continue;
    if (sd_bus_wait(bus, UINT64_MAX) < 0) return 1;
  }
}

}  // namespace shelvo::test
