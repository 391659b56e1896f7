// shelvo-codesign: signs executables for the helper's client check and checks signatures
// against a requirement, with the platform's messages.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "emulation/codesign/security_status.h"
#include "platform/codesign/code_signature.h"
#include "platform/codesign/guest_code.h"
#include "platform/env/env.h"
#include "platform/system/root_prefix.h"

namespace {

constexpr const char* kUsage =
    "usage: shelvo-codesign sign --identifier ID --key KEY.pem --cert CERT.pem [--chain CHAIN.pem] "
    "EXECUTABLE\n"
    "       shelvo-codesign verify [--requirement TEXT] EXECUTABLE\n";

int usageError(const std::string& message) {
  std::cerr << "shelvo-codesign: " << message << "\n" << kUsage;
  return 2;
}

struct Options {
  std::string identifier, key, certificate, chain, requirement, executable;
  bool hasRequirement = false;
};

bool parse(const std::vector<std::string>& args, Options& options, std::string& error) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& argument = args[i];
    auto value = [&](std::string& target) {
      if (i + 1 >= args.size()) {
        error = argument + " needs a value";
        return false;
      }
      target = args[++i];
      return true;
    };
    if (argument == "--identifier") {
      if (!value(options.identifier)) return false;
    } else if (argument == "--key") {
      if (!value(options.key)) return false;
    } else if (argument == "--cert") {
      if (!value(options.certificate)) return false;
    } else if (argument == "--chain") {
      if (!value(options.chain)) return false;
    } else if (argument == "--requirement") {
      if (!value(options.requirement)) return false;
      options.hasRequirement = true;
    } else if (argument.starts_with("--")) {
      error = "unknown option " + argument;
      return false;
    } else if (options.executable.empty()) {
      options.executable = argument;
    } else {
      error = "only one executable at a time";
      return false;
    }
  }
  if (options.executable.empty()) error = "no executable given";
  return error.empty();
}

int sign(const Options& options) {
  if (options.identifier.empty() || options.key.empty() || options.certificate.empty()) {
    return usageError("sign needs --identifier, --key and --cert");
  }
  auto signedCode = shelvo::platform::signExecutable(
      options.executable, options.identifier, options.key, options.certificate, options.chain);
  if (!signedCode) {
    std::cerr << options.executable << ": " << signedCode.error().message << "\n";
    return 1;
  }
  std::cout << options.executable << ": signed as " << options.identifier << "\n";
  return 0;
}

int verify(const Options& options) {
  using namespace shelvo::platform;
  std::optional<Requirement> requirement;
  if (options.hasRequirement) {
    auto compiled = Requirement::compile(options.requirement);
    if (!compiled) {
      std::cerr << "shelvo-codesign: " << securityErrorMessage(errSecCSReqInvalid) << ": "
                << compiled.error().message << "\n";
      return 2;
    }
    requirement = std::move(*compiled);
  }
  auto anchors = TrustAnchors::load(
      TrustAnchors::folder(RootPrefix::fromEnvironment(shelvo::platform::PosixEnv())));
  auto checked = checkStaticCodeValidity(options.executable, nullptr, anchors);
  if (!checked) {
    std::cerr << options.executable << ": " << securityErrorMessage(checked.error().systemError)
              << "\n";
    return 1;
  }
  const SigningInformation& information = *checked;
  std::cout << options.executable << ": valid on disk\n";
  std::cout << "Identifier=" << information.identifier << "\n";
  std::cout << "Anchor=" << (information.anchorTrusted ? "trusted" : "not trusted") << "\n";
  if (requirement) {
    if (!requirement->evaluate(information.identity())) {
      std::cerr << options.executable << ": " << securityErrorMessage(errSecCSReqFailed) << "\n";
      return 3;
    }
    std::cout << options.executable << ": explicit requirement satisfied\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usageError("missing command");
  Options options;
  std::string error;
  if (!parse(args, options, error)) return usageError(error);
  if (args[0] == "sign") return sign(options);
  if (args[0] == "verify") {
    if (!options.identifier.empty() || !options.key.empty() || !options.certificate.empty()) {
      return usageError("verify takes only --requirement");
    }
    return verify(options);
  }
  return usageError("unknown command " + args[0]);
}
