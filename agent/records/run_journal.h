#pragma once

#include <optional>
#include <string_view>

#include "platform/log/logger.h"
#include "shared/records/run_record.h"

namespace shelvo {

// The journal's view of a run: every entry between its start and its end carries the run's id
// (SHELVO_RUN_ID), and the start and the end carry fixed MESSAGE_IDs that the package's catalog
// (/usr/lib/systemd/catalog/shelvo.catalog) explains, so `journalctl -x` says what an outcome
// means and what to do.
inline constexpr std::string_view kRunStartedMessageId = "123f60a3ae2446a9b75f8d9f5c93bbd2";
// The end's id names the outcome, so the catalog can explain that one; a run without an outcome
// ends with an id of its own.
std::string_view runEndedMessageId(std::optional<RunOutcome> outcome);

// Tags the logger's entries (and those of every logger sharing its configuration) with the run's
// id and logs the start.
void announceRunStart(const platform::Logger& logger, const RunRecord& run);
// Logs the end with the outcome and the agent's status, then stops tagging.
void announceRunEnd(const platform::Logger& logger, const RunRecord& run);

}  // namespace shelvo
