#include "platform/log/journal_stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace shelvo::platform {

bool standardOutputIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  unsigned long long device = 0;
  unsigned long long inode = 0;
  if (stream == nullptr || std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat output {};
  return ::fstat(STDOUT_FILENO, &output) == 0 && output.st_dev == device && output.st_ino == inode;
}

}  // namespace shelvo::platform
