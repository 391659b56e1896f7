#include "helper/client_validation.h"

#include "base/path.h"
#include "emulation/codesign/security_status.h"
#include "platform/codesign/hardened_runtime.h"

namespace shelvo {
namespace {

constexpr const char* kRefusal = "NSXPC client does not meet the requirements. %{public}s";

std::string statusText(int status) {
  std::string text = platform::securityErrorMessage(status);
  return text.empty() ? "Unknown error" : text;
}

bool meetsRequirement(const platform::SigningInformation& signing, const std::string& text,
                      const platform::Logger& logger) {
  auto requirement = platform::Requirement::compile(text);
  if (!requirement) {
    logger.error("Unable to create the requirement string. %{public}s",
                 {statusText(platform::errSecCSReqInvalid)});
    return false;
  }
  int status = requirement->isRequirementSet()             ? platform::errSecCSReqUnsupported
               : requirement->evaluate(signing.identity()) ? platform::errSecSuccess
                                                           : platform::errSecCSReqFailed;
  if (status != platform::errSecSuccess) {
    logger.error(kRefusal, {statusText(status)});
    return false;
  }
  return true;
}

}  // namespace

std::optional<AdmittedClient> admitClient(const platform::PeerSocket& connection,
                                          const platform::PeerCredentials& peer,
                                          const platform::TrustAnchors& anchors,
                                          const platform::Logger& logger) {
  auto guest = platform::copyGuestCode(peer.pid, connection.pidfd());
  if (!guest) {
    logger.error("Could not get 'secCode' with the audit token. %{public}s",
                 {statusText(guest.error().systemError)});
    return std::nullopt;
  }
  const platform::GuestCode& code = *guest;
  if (auto hardened = platform::checkHardenedProcess(peer.pid, connection.pidfd()); !hardened) {
    logger.error(kRefusal, {hardened.error().message});
    return std::nullopt;
  }
  if (auto files = checkProtectedCode(code.path); !files) {
    logger.error(kRefusal, {files.error().message});
    return std::nullopt;
  }
  platform::Path signatureFile = code.path;
  signatureFile += ".sig";
  auto verified = platform::verifyCodeSignature(code.executable.get(), signatureFile, anchors);
  if (!verified) {
    int status = verified.error().systemError;
    if (status == platform::errSecCSBadResource) {
      logger.error("Could not read the client's signature: %{public}s", {verified.error().message});
    } else {
      logger.error(kRefusal, {statusText(status)});
    }
    return std::nullopt;
  }
  const platform::SigningInformation& signing = *verified;
  if (!meetsRequirement(signing, clientRequirement(), logger) ||
      !meetsRequirement(signing, kLongRequirement, logger)) {
    return std::nullopt;
  }
  // The file checked, not whatever the process runs by now.
  auto identity = platform::fileIdentity(code.executable.get());
  if (!identity) return std::nullopt;
  return AdmittedClient{peer, *identity};
}

}  // namespace shelvo
