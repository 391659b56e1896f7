#include "platform/codesign/hardened_runtime.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <string>

#include "platform/env/files.h"
#include "platform/env/unique_fd.h"
#include "platform/system/process_identity.h"

namespace shelvo::platform {
namespace {

constexpr std::size_t kMaxProcFile = 64 * 1024;

// The loader's auxiliary vector: pairs of machine words, ended by AT_NULL.
Result<bool> startedInSecureMode(const std::string& proc) {
  auto auxv = readFile(proc + "/auxv", kMaxProcFile);
  if (!auxv) return auxv.error();
  for (std::size_t offset = 0; offset + 2 * sizeof(unsigned long) <= auxv->size();
       offset += 2 * sizeof(unsigned long)) {
    unsigned long entry[2];
    std::memcpy(entry, auxv->data() + offset, sizeof entry);
    if (entry[0] == AT_NULL) break;
    if (entry[0] == AT_SECURE) return entry[1] != 0;
  }
  return false;
}

Result<long> tracerOf(const std::string& proc) {
  auto status = readFile(proc + "/status", kMaxProcFile);
  if (!status) return status.error();
  constexpr std::string_view kField = "\nTracerPid:";
  auto found = status->find(kField);
  if (found == std::string::npos) return Error{"no TracerPid in " + proc + "/status"};
  std::size_t start = status->find_first_not_of(" \t", found + kField.size());
  long tracer = -1;
  if (start == std::string::npos ||
      std::from_chars(status->data() + start, status->data() + status->size(), tracer).ec !=
          std::errc()) {
    return Error{"unreadable TracerPid in " + proc + "/status"};
  }
  return tracer;
}

bool writableByOthers(const struct stat& info) {
  return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

}  // namespace

Status checkHardenedProcess(pid_t pid, int pidfd) {
  std::string proc = "/proc/" + std::to_string(pid);
  auto secure = startedInSecureMode(proc);
  auto tracer = tracerOf(proc);
  // The files under /proc/<pid> of a process that is not dumpable belong to root (the folder
  // itself always shows the effective ids).
  struct stat owner {};
  bool ownerKnown = ::stat((proc + "/mem").c_str(), &owner) == 0;
  // Only now is it known that everything read above describes the peer and not a newcomer.
  if (!processAlive(pidfd)) return Error{"the client process is gone"};
  if (!secure) return secure.error();
  if (!tracer) return tracer.error();
  if (!ownerKnown) return Error{"cannot inspect " + proc + "/mem: " + std::strerror(errno), errno};
  if (!*secure)
    return Error{
        "the client was not started in secure-execution mode (AT_SECURE), so the "
        "loader may have run code of its user's choosing"};
  if (owner.st_uid != 0)
    return Error{"the client is dumpable: a process of its user may trace it or write its memory"};
  if (*tracer != 0)
    return Error{"the client is being traced by process " + std::to_string(*tracer)};
  return success();
}

Status checkProtectedFile(const std::filesystem::path& path) {
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!file || ::fstat(file.get(), &info) != 0)
    return Error{"cannot inspect " + path.string() + ": " + std::strerror(errno), errno};
  if (!S_ISREG(info.st_mode)) return Error{path.string() + " is not a regular file"};
  if (info.st_uid != 0 || writableByOthers(info))
    return Error{path.string() + " is not owned by root or is writable by others"};
  for (auto folder = path.parent_path(); !folder.empty(); folder = folder.parent_path()) {
    struct stat folderInfo {};
    if (::stat(folder.c_str(), &folderInfo) != 0)
      return Error{"cannot inspect " + folder.string() + ": " + std::strerror(errno), errno};
    bool sticky = (folderInfo.st_mode & S_ISVTX) != 0;
    if (folderInfo.st_uid != 0 || (writableByOthers(folderInfo) && !sticky))
      return Error{"the folder " + folder.string() +
                   " is not owned by root or is writable by others"};
    if (folder == folder.root_path()) break;
  }
  return success();
}

}  // namespace shelvo::platform
