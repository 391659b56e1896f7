#include "shared/records/run_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "platform/env/files.h"
#include "platform/env/unique_fd.h"
#include "platform/log/log_format.h"

namespace shelvo {
namespace {

constexpr std::size_t kMaxRecordFile = 1024 * 1024;
constexpr unsigned kFolderMode = 0750;
constexpr unsigned kRecordMode = 0640;
// Debian's group for reading logs.
constexpr const char* kReaders = "adm";

std::chrono::system_clock::time_point parseTime(const std::string& text) {
  std::tm utc{};
  std::istringstream in(text);
  in >> std::get_time(&utc, "%Y-%m-%dT%H:%M:%S");
  auto seconds = std::chrono::system_clock::from_time_t(::timegm(&utc));
  int millis = 0;
  if (auto dot = text.find('.'); dot != std::string::npos)
    millis = std::atoi(text.c_str() + dot + 1);
  return seconds + std::chrono::milliseconds(millis);
}

// A file name that sorts by start time.
std::string fileName(const RunRecord& record) {
  std::string stamp = platform::rfc3339(record.started);
  stamp.erase(std::remove_if(stamp.begin(), stamp.end(), [](char c) { return c == ':'; }),
              stamp.end());
  return stamp + "-" + std::to_string(::getpid()) + ".json";
}

// The record files of the folder, oldest first: each name starts with the time its run began, and
// all share the folder, so plain text order is time order.
std::vector<platform::Path> recordFiles(const platform::Env& env, const platform::Path& folder) {
  std::vector<platform::Path> files;
  for (auto& entry : env.listFolder(folder)) {
    if (entry.extension() == ".json") files.push_back(std::move(entry));
  }
  std::sort(files.begin(), files.end(), [](const platform::Path& a, const platform::Path& b) {
    return a.native() < b.native();
  });
  return files;
}

using ModeAndGroup = std::pair<mode_t, gid_t>;

// The mode and group of files themselves (not a link's target), looked up in one open folder so
// that a sweep of a hundred records costs a hundred short lookups, not a hundred walks from the
// root.
class FolderModes {
 public:
  explicit FolderModes(const platform::Path& folder)
      : folder_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {}

  // The folder's own group, the group adm where the system has it.
  std::optional<gid_t> folderGroup() const {
    struct ::stat info {};
    if (!folder_ || ::fstat(folder_.get(), &info) != 0) return std::nullopt;
    return info.st_gid;
  }

  std::optional<ModeAndGroup> of(const platform::Path& file) const {
    struct ::stat info {};
    if (::fstatat(folder_.get(), file.filename().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
      return std::nullopt;
    return ModeAndGroup{info.st_mode, info.st_gid};
  }

 private:
  platform::UniqueFd folder_;
};

constexpr std::array<std::pair<RunOutcome, std::string_view>, 13> kOutcomeNames{{
    {RunOutcome::Installed, "installed"},
    {RunOutcome::Updated, "updated"},
    {RunOutcome::NotDue, "not-due"},
    {RunOutcome::Disabled, "disabled"},
    {RunOutcome::DeferredOffline, "deferred-offline"},
    {RunOutcome::DeferredMetered, "deferred-metered"},
    {RunOutcome::DeferredBattery, "deferred-battery"},
    {RunOutcome::Busy, "busy"},
    {RunOutcome::FailedService, "failed-service"},
    {RunOutcome::FailedAnswer, "failed-answer"},
    {RunOutcome::FailedScriptCheck, "failed-script-check"},
    {RunOutcome::FailedScriptStart, "failed-script-start"},
    {RunOutcome::TimedOut, "timed-out"},
}};

}  // namespace

std::string_view outcomeName(RunOutcome outcome) {
  for (const auto& [value, name] : kOutcomeNames)
    if (value == outcome) return name;
  return "unknown";
}

std::optional<RunOutcome> outcomeNamed(std::string_view name) {
  for (const auto& [value, known] : kOutcomeNames)
    if (known == name) return value;
  return std::nullopt;
}

OutcomeKind outcomeKind(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Installed:
    case RunOutcome::Updated:
      return OutcomeKind::Success;
    case RunOutcome::NotDue:
    case RunOutcome::Disabled:
    case RunOutcome::DeferredOffline:
    case RunOutcome::DeferredMetered:
    case RunOutcome::DeferredBattery:
    case RunOutcome::Busy:
      return OutcomeKind::Skip;
    default:
      return OutcomeKind::Failure;
  }
}

std::string makeRunId() {
  std::array<unsigned char, 16> bytes{};
  std::random_device random;
  for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (unsigned char byte : bytes) {
    id += kHex[byte >> 4];
    id += kHex[byte & 0xF];
  }
  return id;
}

std::string encodeRunRecord(const RunRecord& record) {
  nlohmann::json json = {
      {"id", record.id},
      {"version", record.version},
      {"started", platform::rfc3339(record.started)},
      {"ended", platform::rfc3339(record.ended)},
      {"command", record.command},
      {"bundle_identifier", record.bundleIdentifier ? nlohmann::json(*record.bundleIdentifier)
                                                    : nlohmann::json(nullptr)},
      {"message", record.message ? nlohmann::json(*record.message) : nlohmann::json(nullptr)},
      {"http_status",
       record.httpStatus ? nlohmann::json(*record.httpStatus) : nlohmann::json(nullptr)},
      {"script_status",
       record.scriptStatus ? nlohmann::json(*record.scriptStatus) : nlohmann::json(nullptr)},
      {"agent_status", record.agentStatus},
      {"outcome",
       record.outcome ? nlohmann::json(outcomeName(*record.outcome)) : nlohmann::json(nullptr)},
      {"output_bytes", record.outputBytes},
      {"last_lines", record.lastLines},
  };
  // Script output need not be UTF-8 line by line: replaced, never refused.
  return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::optional<RunRecord> decodeRunRecord(std::string_view text) {
  auto json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return std::nullopt;
  RunRecord record;
  auto text_of = [&](const char* key) -> std::optional<std::string> {
    auto found = json.find(key);
    if (found == json.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
  };
  auto number_of = [&](const char* key) -> std::optional<long> {
    auto found = json.find(key);
    if (found == json.end() || !found->is_number_integer()) return std::nullopt;
    return found->get<long>();
  };
  auto command = text_of("command");
  auto started = text_of("started");
  auto ended = text_of("ended");
  auto agentStatus = number_of("agent_status");
  if (!command || !started || !ended || !agentStatus) return std::nullopt;
  record.id = text_of("id").value_or("");
  record.version = text_of("version").value_or("");
  record.message = text_of("message");
  if (auto outcome = text_of("outcome")) record.outcome = outcomeNamed(*outcome);
  record.command = *command;
  record.started = parseTime(*started);
  record.ended = parseTime(*ended);
  record.agentStatus = static_cast<int>(*agentStatus);
  record.bundleIdentifier = text_of("bundle_identifier");
  record.httpStatus = number_of("http_status");
  if (auto status = number_of("script_status")) record.scriptStatus = static_cast<int>(*status);
  record.outputBytes = static_cast<std::uint64_t>(number_of("output_bytes").value_or(0));
  if (auto lines = json.find("last_lines"); lines != json.end() && lines->is_array()) {
    for (const auto& line : *lines)
      if (line.is_string()) record.lastLines.push_back(line.get<std::string>());
  }
  return record;
}

platform::Path runRecordFolder(const platform::Path& root) {
  return root / "var/lib/shelvo/runs";
}

platform::Status storeRunRecord(platform::Env& env, const RunRecord& record,
                                const platform::Path& folder, std::size_t keep) {
  auto prepared = prepareRunRecord(env, record, folder);
  if (!prepared) return prepared.error();
  if (auto written = env.replaceFiles({&*prepared, 1}).front(); !written) return written;
  return tidyRunRecords(env, prepared->path, folder, keep);
}

platform::Result<platform::FileReplacement> prepareRunRecord(platform::Env& env,
                                                             const RunRecord& record,
                                                             const platform::Path& folder) {
  if (auto made = env.makeFolders(folder.parent_path(), 0755); !made) return made.error();
  if (auto made = env.makeFolders(folder, kFolderMode); !made) return made.error();
  // Without the group (not every system has it) the records stay root's alone.
  env.setGroup(folder, kReaders).ignoreError();
  if (auto set = env.setMode(folder, kFolderMode); !set) return set.error();
  return platform::FileReplacement{folder / fileName(record), encodeRunRecord(record), kRecordMode,
                                   kReaders};
}

namespace {

// Removes the oldest records beyond keep, never the one just stored (with the clock set back, it
// sorts first), and sets the others right. The first step that failed, if one did.
platform::Status pruneAndSetRight(platform::Env& env, const platform::Path& folder,
                                  std::size_t keep, const platform::Path& justStored) {
  platform::Status tidied = platform::success();
  auto note = [&](const platform::Status& step) {
    if (!step && tidied.ok()) tidied = step;
  };
  auto files = recordFiles(env, folder);
  std::size_t surplus = files.size() > keep ? files.size() - keep : 0;
  std::vector<platform::Path> older;
  for (auto& kept : files) {
    if (kept == justStored) continue;
    if (surplus > 0) {
      note(env.removeFile(kept));
      --surplus;
    } else {
      older.push_back(std::move(kept));
    }
  }

  // Older records are set right once. Looking at each of a hundred on every store cost more than
  // the rest of the tidying, so two stand for the rest: the oldest and the newest of them. Records
  // left by an older version, or from before the group existed, include the oldest; the sweep
  // goes from the newest back, so one cut short leaves the oldest as it was. An older version
  // gave a record its group after storing it, so a store of its cut short left the newest. Only
  // records seen to be files are set right: a link in the folder is never followed. One already
  // right is left alone, so that the journal is not rewritten for it.
  const FolderModes modes(folder);
  if (auto group = modes.folderGroup()) {
    const ModeAndGroup wanted{S_IFREG | kRecordMode, *group};
    auto differs = [&](const platform::Path& record) {
      auto seen = modes.of(record);
      return seen && S_ISREG(seen->first) && *seen != wanted;
    };
    bool sweep = !older.empty() && (differs(older.front()) || differs(older.back()));
    for (auto record = older.rbegin(); sweep && record != older.rend(); ++record) {
      if (!differs(*record)) continue;
      env.setGroup(*record, kReaders).ignoreError();
      note(env.setMode(*record, kRecordMode));
    }
  }
  return tidied;
}

}  // namespace

platform::Status makeRoomForRunRecord(platform::Env& env, const platform::Path& folder,
                                      std::size_t keep) {
  // The folder is set right when the record is prepared; one not there yet holds nothing.
  return pruneAndSetRight(env, folder, keep > 0 ? keep - 1 : 0, {});
}

platform::Status tidyRunRecords(platform::Env& env, const platform::Path& file,
                                const platform::Path& folder, std::size_t keep) {
  auto tidied = pruneAndSetRight(env, folder, keep, file);
  if (tidied) return tidied;
  return platform::Error{"the record is stored, but an older one is left as it was: " +
                         tidied.error().message};
}

std::vector<RunRecord> loadRunRecords(const platform::Env& env, const platform::Path& folder) {
  std::vector<RunRecord> records;
  for (const auto& file : recordFiles(env, folder)) {
    auto text = env.readFile(file, kMaxRecordFile);
    if (!text) continue;
    if (auto record = decodeRunRecord(*text)) records.push_back(std::move(*record));
  }
  return records;
}

}  // namespace shelvo
