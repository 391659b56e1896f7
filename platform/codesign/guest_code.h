#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>

#include "platform/codesign/code_signature.h"
#include "emulation/codesign/requirement.h"
#include "platform/system/unique_fd.h"

namespace shelvo::platform {

// The code a running process executes: its executable, opened through /proc/<pid>/exe so the
// bytes that run are the bytes checked, and the path its signature file sits beside.
struct GuestCode {
  UniqueFd executable;
  std::filesystem::path path;
};

// Finds the code of the process; pidfd pins the process, so a pid reused meanwhile is never
// mistaken for it. Returns a security status.
int copyGuestCode(pid_t pid, int pidfd, GuestCode& code);

// The file a process runs (device and inode), to notice that it executed another program.
struct ExecutableIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const ExecutableIdentity&) const = default;
};
std::optional<ExecutableIdentity> executableIdentity(pid_t pid);
// The identity of an open file.
std::optional<ExecutableIdentity> fileIdentity(int fd);

// Checks the signature of a file on disk and then, when given, the requirement; a security
// status.
int checkStaticCodeValidity(const std::filesystem::path& executable, const Requirement* requirement,
                            const TrustAnchors& anchors, SigningInformation& information);

}  // namespace shelvo::platform
