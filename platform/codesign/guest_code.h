#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>

#include "emulation/codesign/requirement.h"
#include "platform/codesign/code_signature.h"
#include "platform/env/unique_fd.h"

namespace shelvo::platform {

// The code a running process executes: its executable, opened through /proc/<pid>/exe so the
// bytes that run are the bytes checked, and the path its signature file sits beside.
struct GuestCode {
  UniqueFd executable;
  std::filesystem::path path;
};

// Finds the code of the process; pidfd pins the process, so a pid reused meanwhile is never
// mistaken for it. A failure's code is a security status.
Result<GuestCode> copyGuestCode(pid_t pid, int pidfd);

// The file a process runs (device and inode), to notice that it executed another program.
struct ExecutableIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const ExecutableIdentity&) const = default;
};
std::optional<ExecutableIdentity> executableIdentity(pid_t pid);
// The identity of an open file.
std::optional<ExecutableIdentity> fileIdentity(int fd);

// Checks the signature of a file on disk and then, when given, the requirement; a failure's
// code is a security status.
Result<SigningInformation> checkStaticCodeValidity(const std::filesystem::path& executable,
                                                   const Requirement* requirement,
                                                   const TrustAnchors& anchors);

}  // namespace shelvo::platform
