#include "helper/client_validation.h"

#include "platform/codesign/guest_code.h"
#include "platform/codesign/security_status.h"

namespace shelvo {
namespace {

std::string statusText(int status) {
  std::string text = platform::securityErrorMessage(status);
  return text.empty() ? "Unknown error" : text;
}

// Compiles and checks one requirement; logs and answers false when it is not met.
bool meetsRequirement(const platform::GuestCode& code, const std::string& text,
                      const platform::TrustAnchors& anchors, const platform::Logger& logger) {
  auto requirement = platform::Requirement::compile(text);
  if (!requirement) {
    logger.error("Unable to create the requirement string. %{public}s",
                 {statusText(platform::errSecCSReqInvalid)});
    return false;
  }
  int status = platform::checkCodeValidity(code, *requirement, anchors);
  if (status != platform::errSecSuccess) {
    logger.error("NSXPC client does not meet the requirements. %{public}s", {statusText(status)});
    return false;
  }
  return true;
}

}  // namespace

const std::string& clientRequirement() {
  static const std::string requirement =
      std::string("anchor apple generic and identifier \"") + "ostrel.shelvo" +
      "\" and certificate leaf[subject.OU] = \"" + kTeamIdentifier + "\"";
  return requirement;
}

bool isValidClient(platform::PeerSocket& connection, platform::PeerCredentials& peer,
                   const platform::TrustAnchors& anchors, const platform::Logger& logger) {
  auto credentials = connection.credentials();
  if (!credentials) {
    logger.error("Unable to get the property 'auditToken' from the connection");
    return false;
  }
  peer = *credentials;
  platform::GuestCode code;
  int status = platform::copyGuestCode(peer.pid, connection.pidfd(), code);
  if (status != platform::errSecSuccess) {
    logger.error("Could not get 'secCode' with the audit token. %{public}s", {statusText(status)});
    return false;
  }
  return meetsRequirement(code, clientRequirement(), anchors, logger) &&
         meetsRequirement(code, kLongRequirement, anchors, logger);
}

}  // namespace shelvo
