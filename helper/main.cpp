#include <csignal>

#include "helper/shelvo_helper.h"
#include "platform/env/posix_env.h"
#include "platform/system/descriptor_limit.h"
#include "platform/system/standard_descriptors.h"

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

namespace shelvo {

// SHELVO_HELPER_PEER_LOOKUP=pid-number, a diagnostic: find a client's process by its pid number
// even where the kernel names it by a pidfd, as on kernels before 6.5 (Debian 12's own).
platform::PeerLookup peerLookupFromEnvironment(const platform::Env& env,
                                               const platform::Logger& logger) {
  auto chosen = env.variable("SHELVO_HELPER_PEER_LOOKUP");
  if (!chosen || chosen->empty() || *chosen == "pidfd") return platform::PeerLookup::pidfd;
  if (*chosen == "pid-number") return platform::PeerLookup::pidNumber;
  logger.error("Ignoring SHELVO_HELPER_PEER_LOOKUP=%{public}s (pidfd or pid-number)", {*chosen});
  return platform::PeerLookup::pidfd;
}

}  // namespace shelvo

int main() {
  shelvo::platform::openMissingStandardDescriptors();
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
  shelvo::AdmissionPolicy policy;
  policy.peerLookup = shelvo::peerLookupFromEnvironment(env, logger);
  static shelvo::ShelvoHelper helper(std::move(*listener), logger, root, std::move(policy));
  helper.resume();
  env.endProcess(helper.runUntilQuit());
}
