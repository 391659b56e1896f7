#pragma once

#include <sys/types.h>

#include <filesystem>

#include "base/result.h"

namespace shelvo::platform {

// What the platform's hardened runtime gives a signed client, checked on a running process: a
// signature proves which file runs, not what else runs inside the process. Refused, with the
// reason, unless the process was started in secure-execution mode (the loader ignored
// LD_PRELOAD and its kin), is not dumpable (no process of its user may trace it or write its
// memory), and has no tracer. pidfd pins the process, so a pid reused meanwhile fails the check.
Status checkHardenedProcess(pid_t pid, int pidfd);

// A file another user must not be able to change or replace: a regular file owned by root and
// not writable by group or others, in folders up to / owned by root and not writable by group or
// others (a sticky folder may be: only an entry's owner can rename it there).
Status checkProtectedFile(const std::filesystem::path& path);

}  // namespace shelvo::platform
