#include "helper/client_policy.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/codesign/hardened_runtime.h"

namespace shelvo {

const std::string& clientRequirement() {
  static const std::string requirement =
      std::string("anchor apple generic and identifier \"") + "ostrel.shelvo" +
      "\" and certificate leaf[subject.OU] = \"" + kTeamIdentifier + "\"";
  return requirement;
}

platform::Status checkProtectedCode(const std::filesystem::path& executable) {
  if (auto file = platform::checkProtectedFile(executable); !file) return file;
  std::filesystem::path signature = executable;
  signature += ".sig";
  auto protectedSignature = platform::checkProtectedFile(signature);
  // A missing signature is reported by the signature check, as an unsigned client.
  if (!protectedSignature && !protectedSignature.error().is(platform::ErrorKind::notFound))
    return protectedSignature;
  return platform::success();
}

platform::Status checkStartsHardened(const std::filesystem::path& executable) {
  struct stat info {};
  if (::stat(executable.c_str(), &info) != 0)
    return platform::Error{"cannot inspect " + executable.string(), errno};
  // A file capability alone is not enough: it gives secure-execution mode, but the kernel
  // leaves the process dumpable, so its user could trace it.
  if ((info.st_mode & (S_ISUID | S_ISGID)) == 0) {
    return platform::Error{
        "neither setuid nor setgid: it would not start in secure-execution mode, undumpable"};
  }
  return platform::success();
}

}  // namespace shelvo
