#include "agent/records/run_journal.h"

#include <array>
#include <utility>

#include "agent/records/run_totals.h"

namespace shelvo {
namespace {

constexpr std::string_view kRunEndedWithoutOutcomeMessageId = "f22a94d6f5e24fa0b4b35b886028c92e";

constexpr std::array<std::pair<RunOutcome, std::string_view>, 13> kRunEndedMessageIds{{
    {RunOutcome::Installed, "c6751399f65f44e2bcf2b92d5c65d904"},
    {RunOutcome::Updated, "1ed8102f3a104d47942ad5ad69d2163b"},
    {RunOutcome::NotDue, "e23d721e9827412caa575bc497aadb66"},
    {RunOutcome::Disabled, "319d8af5980a4b17b2697b2d07b79401"},
    {RunOutcome::DeferredOffline, "9f450d91c1644bf19bc3a74d71e1acf0"},
    {RunOutcome::DeferredMetered, "25218d3374384732ac5974dec5b3529e"},
    {RunOutcome::DeferredBattery, "856953bdc05343a68b0a5890193f2b43"},
    {RunOutcome::Busy, "b3a76ca3a9f643299b48a563358d39f9"},
    {RunOutcome::FailedService, "73443d879ead44dc91eff98723e8583f"},
    {RunOutcome::FailedAnswer, "fef271fe45dc4efa95b6b7b7e7e26b9f"},
    {RunOutcome::FailedScriptCheck, "35a777960a114e5f9cb94140498ae92e"},
    {RunOutcome::FailedScriptStart, "4a7d82aaa9b742fdae2e52ea1d45bac5"},
    {RunOutcome::TimedOut, "9d7fb48f974646db83ae8b03237dfdd4"},
}};

// "Install of com.example.app", "Update", "Scheduled update".
std::string runName(const RunRecord& run) {
  if (run.command == "install")
    return "Install of " + run.bundleIdentifier.value_or("an unnamed app");
  if (run.command == "update-schedule") return "Scheduled update";
  if (run.command == "update") return "Update";
  return "Run of " + run.command;
}

}  // namespace

std::string_view runEndedMessageId(std::optional<RunOutcome> outcome) {
  if (outcome) {
    for (const auto& [value, id] : kRunEndedMessageIds)
      if (value == *outcome) return id;
  }
  return kRunEndedWithoutOutcomeMessageId;
}

void announceRunStart(const platform::Logger& logger, const RunRecord& run) {
  if (logger.runTag()) logger.runTag()->set(run.id);
  logger.event(kRunStartedMessageId, platform::LogLevel::Default,
               "%{public}s started (run %{public}s, agent %{public}s)",
               {runName(run), run.id, run.version});
}

void announceRunEnd(const platform::Logger& logger, const RunRecord& run) {
  auto level = runKind(run) == OutcomeKind::Failure ? platform::LogLevel::Error
                                                    : platform::LogLevel::Default;
  std::int64_t status = run.agentStatus;
  if (run.outcome) {
    logger.event(runEndedMessageId(run.outcome), level, "%{public}s ended: %{public}s (status %ld)",
                 {runName(run), outcomeName(*run.outcome), status});
  } else {
    logger.event(runEndedMessageId(run.outcome), level, "%{public}s ended with status %ld",
                 {runName(run), status});
  }
  if (logger.runTag()) logger.runTag()->clear();
}

}  // namespace shelvo
