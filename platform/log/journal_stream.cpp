#include "platform/log/journal_stream.h"

#include "platform/env/env.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace shelvo::platform {

bool standardOutputIsJournal(const Env& env) {
  auto stream = env.variable("JOURNAL_STREAM");
  unsigned long long device = 0;
  unsigned long long inode = 0;
  if (!stream || std::sscanf(stream->c_str(), "%llu:%llu", &device, &inode) != 2) return false;
  struct stat output {};
  return ::fstat(STDOUT_FILENO, &output) == 0 && output.st_dev == device && output.st_ino == inode;
}

}  // namespace shelvo::platform
