#include "platform/codesign/guest_code.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "emulation/codesign/security_status.h"
#include "platform/system/process_identity.h"

namespace shelvo::platform {
namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

Result<GuestCode> copyGuestCode(pid_t pid, int pidfd) {
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  UniqueFd executable(::open(link.c_str(), O_RDONLY | O_CLOEXEC));
  // The pid must still name the process the pidfd pins, or the file may be a newcomer's.
  if (!executable || !processAlive(pidfd)) return securityError(errSecCSGuestInvalid);
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink(link, error);
  if (error || path.string().ends_with(" (deleted)"))
    return securityError(errSecCSStaticCodeNotFound);
  // The signature beside the path must belong to the file that runs.
  struct stat running {};
  struct stat onDisk {};
  if (::fstat(executable.get(), &running) != 0 || ::stat(path.c_str(), &onDisk) != 0 ||
      !sameFile(running, onDisk)) {
    return securityError(errSecCSStaticCodeNotFound);
  }
  return GuestCode{std::move(executable), std::move(path)};
}

std::optional<ExecutableIdentity> fileIdentity(int fd) {
  struct stat checked {};
  if (::fstat(fd, &checked) != 0) return std::nullopt;
  return ExecutableIdentity{checked.st_dev, checked.st_ino};
}

std::optional<ExecutableIdentity> executableIdentity(pid_t pid) {
  struct stat info {};
  if (::stat(("/proc/" + std::to_string(pid) + "/exe").c_str(), &info) != 0) return std::nullopt;
  return ExecutableIdentity{info.st_dev, info.st_ino};
}

Result<SigningInformation> checkStaticCodeValidity(const std::filesystem::path& executable,
                                                   const Requirement* requirement,
                                                   const TrustAnchors& anchors) {
  UniqueFd file(::open(executable.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return securityError(errSecCSStaticCodeNotFound);
  std::filesystem::path signature = executable;
  signature += ".sig";
  auto information = verifyCodeSignature(file.get(), signature, anchors);
  if (!information || requirement == nullptr) return information;
  if (requirement->isRequirementSet()) return securityError(errSecCSReqUnsupported);
  if (!requirement->evaluate(information->identity())) return securityError(errSecCSReqFailed);
  return information;
}

}  // namespace shelvo::platform
