#pragma once

#include <map>
#include <string>

#include "platform/env/env.h"

namespace shelvo::platform {

// The real operating system. The environment is copied when it is made, at start.
class PosixEnv final : public Env {
 public:
  PosixEnv();

  std::optional<std::string> variable(const std::string& name) const override;
  Result<std::string> readFile(const std::filesystem::path& path,
                               std::size_t maxBytes) const override;
  Result<std::string> readOwnedFile(const std::filesystem::path& path, std::size_t maxBytes,
                                    FileOwnership& ownership) const override;
  Result<FileOwnership> ownershipOf(const std::filesystem::path& path) const override;
  Status replaceFile(const std::filesystem::path& path, std::string_view bytes,
                     unsigned mode) override;
  std::vector<Status> replaceFiles(std::span<const FileReplacement> files) override;
  Status makeFolders(const std::filesystem::path& folder, unsigned mode) override;
  bool exists(const std::filesystem::path& path) const override;
  bool isFolder(const std::filesystem::path& path) const override;
  std::vector<std::filesystem::path> listFolder(const std::filesystem::path& folder) const override;
  std::vector<std::filesystem::path> listSubfolders(
      const std::filesystem::path& folder) const override;
  Status removeFile(const std::filesystem::path& path) override;
  Status renameFile(const std::filesystem::path& from, const std::filesystem::path& to) override;
  Status setMode(const std::filesystem::path& path, unsigned mode) override;
  Status setGroup(const std::filesystem::path& path, const std::string& group) override;
  std::filesystem::path temporaryFolder() const override;
  std::chrono::system_clock::time_point now() const override;
  std::string localTimeText(std::int64_t secondsSince1970, const char* format) const override;
  void sleepFor(std::chrono::milliseconds duration) override;
  [[noreturn]] void endProcess(int status) override;
  void watchStopSignals(std::function<void(int signal)> onStop) override;

 private:
  std::map<std::string, std::string> variables_;
};

}  // namespace shelvo::platform
