#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "platform/env/unique_fd.h"

namespace shelvo::platform {

struct SpawnRequest {
  std::string path;
  std::vector<std::string> arguments;  // the whole argv, argv[0] included
  // Child descriptor numbers (above 2 or replacing 0-2) and the parent descriptors they copy.
  std::vector<std::pair<int, int>> descriptors;
};

// Starts a program with the parent's environment, working folder and standard streams, except
// where descriptors replaces them. Every other descriptor is closed in the child, so no pipe
// end leaks into a sibling started at the same time.
Result<pid_t> spawnProcess(const SpawnRequest& request);

// Waits for the child and returns its termination status: the exit status, or the number of
// the signal that ended it.
int waitForTermination(pid_t pid);

// Waits for the child and returns its exit status; an error when a signal ended it (its number
// is not an exit status) or the wait failed.
Result<int> waitForExit(pid_t pid);

struct Pipe {
  UniqueFd readEnd;
  UniqueFd writeEnd;
};
Result<Pipe> makePipe();

// An empty memory file that can be sealed.
Result<UniqueFd> makeMemoryFile(const char* name);
// Another opening of a memory file, for reading only, at its start.
Result<UniqueFd> openReadOnly(int memoryFile);
// Fills an empty memory file with bytes and seals it against every change, through every
// descriptor of it; an error unless it then holds exactly those bytes.
Status fillAndSeal(int memoryFile, std::string_view bytes);

}  // namespace shelvo::platform
