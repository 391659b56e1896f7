#include "shared/script-runner/script_runner.h"

#include "shared/script-runner/script_process.h"

namespace shelvo {

ScriptRunner::ScriptRunner(platform::Logger logger, std::shared_ptr<platform::Console> console,
                           std::string zshPath)
    : logger_(std::move(logger)), console_(std::move(console)), zshPath_(std::move(zshPath)) {}

platform::Result<ScriptOutcome> ScriptRunner::runScript(std::string_view script,
                                                        std::string_view progressMessage) const {
  logger_.log("%s", {progressMessage});
  return runScript(script);
}

ScriptOutcome::Kind ScriptRunner::validateScript(int scriptFile) const {
  auto status = checkScriptSyntax(zshPath_, scriptFile);
  if (!status) {
    logger_.error("Error while validating installation information, exiting");
    return ScriptOutcome::Kind::CheckNotStarted;
  }
  if (*status != 0) {
    logger_.error("Installation information was invalid, exiting");
    return ScriptOutcome::Kind::InvalidSyntax;
  }
  logger_.debug("Installation information is valid");
  return ScriptOutcome::Kind::Ran;
}

platform::Result<ScriptOutcome> ScriptRunner::runScript(std::string_view script) const {
  // One sealed copy of the script serves the check and the run.
  auto scriptFile = makeScriptFile(script);
  if (!scriptFile) {
    // Without the file the check cannot start.
    logger_.error("Error while validating installation information, exiting");
    return ScriptOutcome{ScriptOutcome::Kind::CheckNotStarted};
  }
  if (auto verdict = validateScript(scriptFile->get()); verdict != ScriptOutcome::Kind::Ran) {
    return ScriptOutcome{verdict};
  }
  // The handler owns copies of the logger and console: it may outlive this call while a
  // background child of the script still writes to the pipe.
  auto status = executeScript(zshPath_, scriptFile->get(),
                              [logger = logger_, console = console_](std::string_view chunk) {
                                logger.log("%{public}s", {chunk});
                                console->printLine(chunk);
                              });
  if (!status) return status.error();
  return ScriptOutcome{ScriptOutcome::Kind::Ran, *status};
}

}  // namespace shelvo
