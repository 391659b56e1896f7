#include "shared/script-runner/script_runner.h"

#include <optional>

#include "shared/script-runner/script_process.h"

namespace shelvo {

ScriptRunner::ScriptRunner(platform::Logger logger, std::shared_ptr<platform::Console> console,
                           std::string zshPath, ScriptRunHooks hooks)
    : logger_(std::move(logger)),
      console_(std::move(console)),
      zshPath_(std::move(zshPath)),
      hooks_(std::move(hooks)) {}

ScriptLaunch ScriptRunner::prepare() const {
  return {SyntaxCheck::start(zshPath_), PreparedRun::start(zshPath_)};
}

platform::Result<ScriptOutcome> ScriptRunner::runScript(std::string_view script,
                                                        std::string_view progressMessage,
                                                        ScriptLaunch launch) const {
  logger_.log("%s", {progressMessage});
  return runChecked(script, std::move(launch));
}

platform::Result<ScriptOutcome> ScriptRunner::runScript(std::string_view script) const {
  return runChecked(script, prepare());
}

ScriptOutcome::Kind ScriptRunner::validateScript(std::string_view script, SyntaxCheck check) const {
  auto status = check.verdict(script);
  if (!status) {
    logger_.error(ScriptOutcome::kCheckNotStartedMessage);
    return ScriptOutcome::Kind::CheckNotStarted;
  }
  if (*status != 0) {
    logger_.error(ScriptOutcome::kInvalidSyntaxMessage);
    return ScriptOutcome::Kind::InvalidSyntax;
  }
  logger_.debug("Installation information is valid");
  return ScriptOutcome::Kind::Ran;
}

std::optional<platform::InhibitorLock> ScriptRunner::delayShutdown() const {
  if (!hooks_.inhibitor) return std::nullopt;
  // Best effort: without logind (a container, no system bus) the script runs all the same.
  auto taken = hooks_.inhibitor->delayShutdown("A script installing or updating apps is running");
  if (!taken) return std::nullopt;
  return std::move(*taken);
}

platform::Result<ScriptOutcome> ScriptRunner::runChecked(std::string_view script,
                                                         ScriptLaunch launch) const {
  auto observer = hooks_.observer;
  if (observer) observer->checking();
  // Every way out of here, the check refused included, ends what checking() began.
  struct Ending {
    ScriptRunObserver* observer;
    ~Ending() {
      if (observer) observer->ended();
    }
  } ending{observer.get()};
  if (auto verdict = validateScript(script, std::move(launch.check));
      verdict != ScriptOutcome::Kind::Ran) {
    return ScriptOutcome{verdict};
  }
  auto shutdownDelay = delayShutdown();
  ScriptProcessWatch watch;
  if (observer) {
    watch.started = [observer](pid_t pid) { observer->started(pid); };
    watch.running = [observer] { observer->running(); };
    watch.wrote = [observer](std::string_view bytes) { observer->wrote(bytes); };
    watch.secret = observer->secret();
  }
  // The run is handed the very text the check accepted. The handler owns copies of the logger and
  // console: it may outlive this call while a background child of the script still writes to the
  // pipe.
  auto status = executeScript(
      std::move(launch.run), script,
      [logger = logger_, console = console_](std::string_view chunk) {
        logger.log("%{public}s", {chunk});
        console->printLine(chunk);
      },
      std::move(watch));
  shutdownDelay.reset();
  if (!status) return status.error();
  return ScriptOutcome{ScriptOutcome::Kind::Ran, *status};
}

}  // namespace shelvo
