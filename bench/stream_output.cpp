// Streams the output of `cat FILE` through the agent's script runner: every chunk is logged to
// the configured sink (SHELVO_LOG) and printed to standard output, as during an install. With
// CREDENTIAL, the run record's recorder also reads the stream and blanks the credential in it,
// as the agent's install does.
#include <csignal>
#include <iostream>

#include "platform/env/posix_env.h"
#include "platform/log/logger.h"
#include "platform/system/console.h"
#include "shared/records/output_recorder.h"
#include "shared/script-runner/script_runner.h"

namespace {

class Recording final : public shelvo::ScriptRunObserver {
 public:
  explicit Recording(std::string credential) { recorder.setSecret(std::move(credential)); }
  void wrote(std::string_view bytes) override { recorder.write(bytes); }
  shelvo::OutputRecorder recorder;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::cerr << "usage: stream-output FILE [CREDENTIAL]\n";
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  shelvo::ScriptRunHooks hooks;
  std::shared_ptr<Recording> recording;
  if (argc == 3) hooks.observer = recording = std::make_shared<Recording>(argv[2]);
  shelvo::ScriptRunner runner(
      shelvo::platform::Logger(
          shelvo::platform::LogConfig::fromEnvironment("shelvo", shelvo::platform::PosixEnv()),
          "ostrel.shelvo", "Agent"),
      std::make_shared<shelvo::platform::StandardOutput>(), "/bin/zsh", hooks);
  // What the run came to is not measured; the output it streamed is.
  runner.runScript(std::string("cat '") + argv[1] + "'", "Installing app...", runner.prepare())
      .ignoreError();
  if (recording) {
    shelvo::RunRecord record;
    recording->recorder.copyInto(record);
    std::cerr << record.outputBytes << " bytes recorded\n";
  }
  return 0;
}
