#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "platform/env/env.h"  // FileOwnership

namespace shelvo::platform {

// The POSIX file primitives PosixEnv is built on. Facilities that work on descriptors of their
// own (logs, locks, processes) use them directly.

// Reads a whole regular file, refusing files larger than maxBytes and anything that is not a
// regular file (a FIFO, device or socket) without blocking on it.
Result<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes);

// The same, also telling who owns the file that was read (not whatever the path names later).
Result<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes,
                             FileOwnership& ownership);
Result<FileOwnership> ownershipOf(const std::filesystem::path& path);

// Why this process may not read path (opening it failed with EACCES), naming the file or the
// folder in the way: "/etc/shelvo/managed is readable by root only", or "... is not readable by
// user NAME".
std::string accessDenial(const std::filesystem::path& path, const std::string& userName);

// Writes all bytes to fd, retrying partial writes and EINTR.
Status writeAll(int fd, std::string_view bytes);

// The same into a pipe whose reader may have gone: EPIPE, never SIGPIPE, also in a program that
// keeps SIGPIPE's default.
Status writeAllToPipe(int fd, std::string_view bytes);

// The id of the named group, if the system has one.
std::optional<gid_t> groupNamed(const std::string& name);

// Creates the folder and its missing parents with the given mode.
Status makeFolders(const std::filesystem::path& folder, unsigned mode);

// Replaces path atomically: a temporary file in the same folder, fsync, rename, fsync of the
// folder. Readers see the old or the new file, never a mixture.
Status replaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                             unsigned mode);

// Replaces several files, each atomically and as durably as replaceFileAtomically, with the
// syncs shared: every temporary file goes to disk together, then every rename is done, then each
// folder is synced. Each file's own outcome, in order; one file failing leaves the others be.
std::vector<Status> replaceFilesAtomically(std::span<const FileReplacement> files);

}  // namespace shelvo::platform
