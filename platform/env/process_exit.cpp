#include "platform/env/process_exit.h"

#include <unistd.h>

#include <cstdio>

namespace shelvo::platform {

void endProcess(int status) {
  std::fflush(nullptr);
  ::_exit(status);
}

}  // namespace shelvo::platform
