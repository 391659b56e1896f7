#include "shared/script-runner/script_runner.h"

#include "platform/system/process_exit.h"
#include "shared/script-runner/script_process.h"

namespace shelvo {

ScriptRunner::ScriptRunner(platform::Logger logger, std::shared_ptr<platform::Console> console,
                           std::string zshPath)
    : logger_(std::move(logger)), console_(std::move(console)), zshPath_(std::move(zshPath)) {}

std::int32_t ScriptRunner::runScript(std::string_view script,
                                     std::string_view progressMessage) const {
  logger_.log("%s", {progressMessage});
  return runValidated(script);
}

void ScriptRunner::runScript(std::string_view script,
                             const std::function<void(std::int32_t)>& completion) const {
  completion(runValidated(script));
}

platform::UniqueFd ScriptRunner::scriptFileOrExit(std::string_view script) const {
  auto scriptFile = makeScriptFile(script);
  if (!scriptFile) {
    // Without the file the check cannot start.
    logger_.error("Error while validating installation information, exiting");
    platform::endProcess(51);
  }
  return std::move(*scriptFile);
}

void ScriptRunner::validateScript(int scriptFile) const {
  auto status = checkScriptSyntax(zshPath_, scriptFile);
  if (!status) {
    logger_.error("Error while validating installation information, exiting");
    platform::endProcess(51);
  }
  if (*status != 0) {
    logger_.error("Installation information was invalid, exiting");
    platform::endProcess(50);
  }
  logger_.debug("Installation information is valid");
}

std::int32_t ScriptRunner::runValidated(std::string_view script) const {
  // One sealed copy of the script serves the check and the run.
  platform::UniqueFd scriptFile = scriptFileOrExit(script);
  validateScript(scriptFile.get());
  // The handler owns copies of the logger and console: it may outlive this call while a
  // background child of the script still writes to the pipe.
  auto status = executeScript(zshPath_, scriptFile.get(),
                              [logger = logger_, console = console_](std::string_view chunk) {
                                logger.log("%{public}s", {chunk});
                                console->printLine(chunk);
                              });
  if (!status) throw ScriptLaunchError(status.error().message);
  return *status;
}

}  // namespace shelvo
