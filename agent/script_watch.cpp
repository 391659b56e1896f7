#include "agent/script_watch.h"

#include <csignal>

#include "platform/system/process_identity.h"

namespace shelvo {

void ScriptWatch::checking() {
  notifier_.status("Checking the script");
  std::lock_guard lock(mutex_);
  underWay_ = true;
}

void ScriptWatch::started(pid_t pid) {
  notifier_.status("Running the script");
  std::lock_guard lock(mutex_);
  script_ = pid;
  scriptPin_ = platform::openProcess(pid);
  // Stopped while zsh checked the syntax: the script ends before it does anything much.
  if (stoppedBy_) askScriptToEnd();
}

void ScriptWatch::ended() {
  std::lock_guard lock(mutex_);
  underWay_ = false;
  script_ = 0;
  scriptPin_.reset();
}

void ScriptWatch::askScriptToEnd() {
  if (scriptPin_) {
    platform::signalProcess(scriptPin_.get(), SIGTERM);
  } else if (script_ != 0) {
    ::kill(script_, SIGTERM);
  }
}

void ScriptWatch::wrote(std::string_view bytes) {
  output_->write(bytes);
}

std::string ScriptWatch::secret() const {
  std::lock_guard lock(mutex_);
  return secret_;
}

void ScriptWatch::setSecret(const Credential& credential) {
  output_->setSecret(credential.text());
  std::lock_guard lock(mutex_);
  secret_ = credential.text();
}

bool ScriptWatch::stop(int signal) {
  std::lock_guard lock(mutex_);
  if (!stoppedBy_) stoppedBy_ = signal;
  askScriptToEnd();
  return underWay_;
}

std::optional<int> ScriptWatch::stoppedBy() const {
  std::lock_guard lock(mutex_);
  return stoppedBy_;
}

}  // namespace shelvo
