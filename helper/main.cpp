#include <csignal>

#include "helper/shelvo_helper.h"
#include "platform/env/env.h"
#include "platform/system/descriptor_limit.h"

// The property lists the helper carries, in sections of its own (readelf -p .shelvo.info_plist).
asm(".pushsection .shelvo.launchd_plist, \"a\"\n"
    ".incbin \"" SHELVO_LAUNCHD_PLIST
    "\"\n"
    ".byte 0\n"
    ".popsection\n"
    ".pushsection .shelvo.info_plist, \"a\"\n"
    ".incbin \"" SHELVO_INFO_PLIST
    "\"\n"
    ".byte 0\n"
    ".popsection\n");

int main() {
  shelvo::platform::PosixEnv env;
  // A client that goes away must never end the helper through a write.
  std::signal(SIGPIPE, SIG_IGN);
  shelvo::platform::raiseDescriptorLimit();
  shelvo::platform::Logger logger(shelvo::platform::LogConfig::fromEnvironment("ShelvoHelper", env),
                                  "ostrel.shelvo.helper", "ShelvoHelper");
  logger.debug("ShelvoHelper started");
  auto root = shelvo::platform::RootPrefix::fromEnvironment(env);
  auto listener = shelvo::platform::ListenerSocket::fromSocketActivation(env);
  if (!listener)
    listener =
        shelvo::platform::ListenerSocket::bind(root.resolve("/run/ostrel.shelvo.helper.sock"));
  if (!listener) {
    logger.error("%{public}s", {listener.error().message});
    env.endProcess(1);
  }
  static shelvo::ShelvoHelper helper(std::move(*listener), logger, root);
  helper.resume();
  env.endProcess(helper.runUntilQuit());
}
